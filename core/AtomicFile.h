#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace core {

// A file written in full or not at all. The bytes go to a file without a name in the target's
// folder (a temporary file created exclusively beside the target where the file system has no
// such files); Commit checks every write, flushes and syncs it, and only then gives it the
// target's name and syncs the folder (see DeferSync for files written many in a row). Until
// Commit succeeds the target keeps its old contents (or stays absent), and a file that is
// dropped or fails leaves nothing behind.
//
// A file that is replaced keeps its permissions (and, where we may give them, its owner and
// group): a 0600 file stays 0600. What a link at the target's name means depends on who chose
// the name; see Kind.
class CAtomicFile {
  public:
    enum class Replace { Yes, No };
    enum class Kind {
        // A file the program names in a folder it writes to (a part): a link found under the
        // name is replaced by the new file, never written through.
        Replace,
        // A file the user chose (a batch file): a link is followed, and its target gets the new
        // contents.
        FollowLink,
        // A file the program names itself in the working folder (setup.ini, default.spl):
        // refused unless it is absent or a regular file of this user that is no link.
        Own,
    };

    explicit CAtomicFile(std::string target, Kind kind = Kind::Replace);
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the temporary file; false when its folder does not take one, or when the target
    // is not a file its kind may replace (errno says why).
    bool Open();

    // Appends bytes; false (and every later step fails) when they could not all be written.
    bool Write(std::string_view bytes);
    // For one of many files written in a row (parts): a new file is then not synced on its own
    // when committed but with the others, by SyncDeferred. A file that replaces another is
    // still synced before it takes the other's place, which a crash must not cost.
    void DeferSync() { m_deferred = true; }
    // Makes the files committed with DeferSync since the last call last on disk: one sync of
    // each file system they went to. Returns "" or a folder whose file system failed to sync.
    static std::string SyncDeferred();

    // Finishes the file and gives it the target's name. With Replace::No an existing file of
    // that name is kept and the commit fails. False on any failure; nothing is then left.
    // `folderFd`, when given, is the target's folder opened by the caller, who writes many
    // files there: its sync then costs one system call instead of three.
    bool Commit(Replace replace = Replace::Yes, int folderFd = -1);

    // A file the commit must never put this one in place of (a part's own source, reached by
    // whatever name): the commit fails instead, and the file stays as it was.
    void KeepOff(dev_t device, ino_t inode) { m_keepOff = {device, inode}; }

    // Gives up the temporary file.
    void Discard();

    bool Failed() const { return m_failed; }
    const std::string& Target() const { return m_target; }

    // The whole file in one go.
    static bool WriteAll(const std::string& target, std::string_view bytes,
                         Kind kind = Kind::Replace, int folderFd = -1);

    // Removes what a killed process left of its writes in `folder`: temporary files of our own
    // pattern, of this user, older than this process and held by no writer. Each folder is
    // looked through once per process; Open does it for its own folder.
    static void RemoveStaleTemporaries(const std::string& folder);

  private:
    static constexpr size_t kBlock = 64 * 1024;
    static std::string TemporaryName(const std::string& folder);
    bool CreateNamedTemporary(const std::string& folder);
    bool NameTheUnnamed();
    void TakeOverPermissions();
    bool CommitNamed(Replace replace, int folderFd);
    bool Named(int folderFd);
    bool TargetIsKeptOff() const;
    bool Flush();
    bool WriteFully(std::string_view bytes);

    std::string m_target;
    Kind m_kind;
    std::string m_tempPath; // empty while the file has no name
    int m_fd = -1;
    std::string m_buffer;
    bool m_failed = false;
    bool m_deferred = false;
    std::optional<std::pair<dev_t, ino_t>> m_keepOff;
};

} // namespace core
