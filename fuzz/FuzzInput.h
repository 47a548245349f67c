#pragma once

#include "core/Prompter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzing {

// The fuzzer's bytes as text, cut into lines one at a time: the targets read their small
// numeric settings from the first lines, so the seed files stay readable.
class CInput {
  public:
    CInput(const uint8_t* data, size_t size) : m_rest(reinterpret_cast<const char*>(data), size) {}

    // The next line without its LF; the rest of the input when no LF is left.
    std::string_view Line() {
        const size_t lf = m_rest.find('\n');
        const std::string_view line = m_rest.substr(0, lf);
        m_rest = lf == std::string_view::npos ? std::string_view{} : m_rest.substr(lf + 1);
        return line;
    }
    std::string_view Rest() const { return m_rest; }

  private:
    std::string_view m_rest;
};

// A failed property is a finding: abort, so that libFuzzer saves the input that caused it.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzzing::Fail(#condition);                                                           \
    } while (false)

// Counts the boxes a reader shows; every question is answered No.
class CCountingPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string&, const std::string&, core::Buttons, core::Icon) override {
        ++shown;
        return core::Answer::No;
    }
    int shown = 0;
};

// One scratch file per fuzzing process, rewritten for every input: the readers under test take
// paths, not buffers.
class CScratchFile {
  public:
    CScratchFile();
    ~CScratchFile();
    const std::string& Path() const { return m_path; }
    void Write(std::string_view bytes) const;

  private:
    std::string m_path;
    int m_fd = -1;
};

} // namespace fuzzing
