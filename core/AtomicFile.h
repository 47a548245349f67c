#pragma once

#include <string>
#include <string_view>

namespace core {

// A file written in full or not at all. The bytes go to a temporary file created exclusively
// beside the target; Commit checks every write, flushes, syncs and closes it, and only then
// gives it the target's name and syncs the folder. Until Commit succeeds the target keeps its
// old contents (or stays absent), and a file that is dropped or fails leaves nothing behind.
class CAtomicFile {
  public:
    enum class Replace { Yes, No };

    explicit CAtomicFile(std::string target);
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file; false when its folder does not take one.
    bool Open();

    // Appends bytes; false (and every later step fails) when they could not all be written.
    bool Write(std::string_view bytes);

    // Finishes the file and gives it the target's name. With Replace::No an existing file of
    // that name is kept and the commit fails. False on any failure; nothing is then left.
    bool Commit(Replace replace = Replace::Yes);

    // Gives up the temporary file.
    void Discard();

    bool Failed() const { return m_failed; }
    const std::string& Target() const { return m_target; }
    const std::string& TempPath() const { return m_tempPath; }

    // The whole file in one go.
    static bool WriteAll(const std::string& target, std::string_view bytes);

  private:
    static constexpr size_t kBlock = 64 * 1024;
    bool Flush();
    bool WriteFully(std::string_view bytes);

    std::string m_target;
    std::string m_tempPath;
    int m_fd = -1;
    std::string m_buffer;
    bool m_failed = false;
};

} // namespace core
