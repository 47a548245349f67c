#include "engine/InputCheck.h"

#include "core/Files.h"
#include "core/Text.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

namespace engine {

namespace {

constexpr size_t kWindow = 512;
constexpr std::string_view kTitleKey = "/Title (";

// The title in the 512 bytes after a carriage return, if they begin with the key.
std::optional<std::string> TitleAt(const char* window, size_t length) {
    if (length < kTitleKey.size() || std::memcmp(window, kTitleKey.data(), kTitleKey.size()) != 0)
        return std::nullopt;
    std::string_view text(window, length);
    text = text.substr(0, text.find('\0'));
    std::string cleaned = core::RemoveAll(text, kTitleKey);
    size_t close = cleaned.find(')');
    if (close == std::string::npos)
        return std::nullopt;
    cleaned.resize(close);
    return cleaned;
}

} // namespace

bool CBookmarkTitles::Add(std::string title) {
    if (m_titles.size() >= kLimit)
        return false;
    if (title.size() > kTitleMax)
        title.resize(kTitleMax);
    m_titles.push_back(std::move(title));
    return true;
}

bool CheckInputAndCollectTitles(const std::string& path, CBookmarkTitles& titles,
                                core::Prompter& prompter) {
    titles.Clear();
    // Only a regular file is read: a FIFO or a device would block or never end.
    const int fd = core::OpenRegularFd(path);
    FILE* file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!file) {
        if (fd >= 0)
            ::close(fd);
        prompter.Show("Input pdf file not found." + path, "File Error");
        return false;
    }
    // The file is read in large blocks; a block is scanned only up to where every carriage
    // return in it still has its whole 512-byte window loaded.
    constexpr size_t kBlock = size_t{1} << 20;
    // Left uninitialised: clearing a megabyte for each job of a batch of small files was a
    // fifth of the batch's instructions.
    const std::unique_ptr<char[]> buffer(new char[kBlock + kWindow]);
    std::string_view data; // what the buffer holds
    size_t scan = 0;
    bool atEnd = false;
    bool limitSaid = false;
    while (true) {
        const size_t have = data.size() - scan;
        if (have > 0)
            std::memmove(buffer.get(), data.data() + scan, have);
        scan = 0;
        const size_t got = std::fread(buffer.get() + have, 1, kBlock + kWindow - have, file);
        data = std::string_view(buffer.get(), have + got);
        atEnd = got == 0 || std::feof(file) || std::ferror(file);
        const size_t limit = atEnd ? data.size() : data.size() - std::min(data.size(), kWindow);
        while (scan < limit) {
            const void* cr = std::memchr(data.data() + scan, '\r', limit - scan);
            if (!cr)
                break;
            const size_t at = static_cast<size_t>(static_cast<const char*>(cr) - data.data());
            const size_t start = at + 1;
            auto title = TitleAt(data.data() + start, std::min(kWindow, data.size() - start));
            if (title && !titles.Add(std::move(*title)) && !limitSaid) {
                prompter.Show(
                    "Sorry you have reached a bookmark limit, can't delete bookmark above this "
                    "limit",
                    "Limit Reached");
                limitSaid = true;
            }
            scan = start;
        }
        scan = limit;
        if (atEnd)
            break;
    }
    std::fclose(file);
    return true;
}

void RemoveBookmarks(Automation& automation, PDDoc& document, const CBookmarkTitles& titles,
                     Pump& pump) {
    auto bookmark = automation.Create<PDBookmark>();
    if (!bookmark)
        return;
    for (const std::string& title : titles.Titles()) {
        pump.PumpOnce();
        if (bookmark->GetByTitle(document, title))
            bookmark->Destroy();
    }
}

} // namespace engine
