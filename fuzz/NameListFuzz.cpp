// Name lists for output files ("file:" and "filecsv:"). Input: line 1 which name k is wanted,
// line 2 the CSV columns (as after the file name in "filecsv:"), the rest the list file.
#include "core/OutputNaming.h"
#include "core/Text.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>

namespace {

bool HasLineEnd(const std::string& name) {
    return name.find_first_of("\r\n") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::CInput in(data, size);
    const int32_t k = core::LeadingInt(in.Line());
    const std::string columns(in.Line());
    const std::string_view content = in.Rest();
    static const fuzzing::CScratchFile file;
    file.Write(content);

    fuzzing::CCountingPrompter prompter;
    const core::ListName line = core::ReadListLine(file.Path(), k, prompter);
    FUZZ_CHECK(prompter.shown == 0);
    FUZZ_CHECK(line.count >= 0 && line.count <= std::max(k, 0));
    FUZZ_CHECK(!HasLineEnd(line.name));

    // With short lines and no NUL, the name is exactly the k-th line (or the last one when the
    // list is shorter), without its line end.
    std::vector<std::string_view> lines;
    bool plain = content.find('\0') == std::string_view::npos;
    fuzzing::CInput split(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    while (!split.Rest().empty()) {
        const std::string_view l = split.Line();
        plain = plain && l.size() < 400;
        lines.push_back(l);
    }
    // A byte order mark before the first line is no part of it.
    if (!lines.empty())
        lines[0] = core::WithoutByteOrderMark(lines[0]);
    if (plain && k >= 1) {
        const size_t taken = std::min(lines.size(), static_cast<size_t>(k));
        FUZZ_CHECK(line.count == static_cast<int>(taken));
        std::string expected;
        if (taken > 0)
            for (char c : lines[taken - 1])
                if (c != '\r')
                    expected += c;
        FUZZ_CHECK(line.name == expected);
    }

    const core::ListName csv = core::ReadListCsv(file.Path() + "," + columns, k, prompter);
    FUZZ_CHECK(prompter.shown == 0);
    FUZZ_CHECK(csv.count == line.count);
    FUZZ_CHECK(!HasLineEnd(csv.name));
    FUZZ_CHECK(csv.name.size() <= line.name.size() * std::max<size_t>(1, columns.size()));
    return 0;
}
