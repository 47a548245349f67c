#include "cli/BatchPlan.h"

#include "cli/PathLimits.h"
#include "core/Files.h"
#include "core/OutputNaming.h"
#include "core/RangeList.h"
#include "core/SplitParameters.h"
#include "core/Text.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace cli {

namespace {

bool Planned(const core::CJobList& list, int row) {
    return list.Text(row, core::kColSelected) == "Yes" &&
           !list.Text(row, core::kColSplitParameters).empty();
}

// The ranges the run expands a job into; `overflowed` when they do not fit its range list.
std::vector<core::PageRange> JobRanges(const core::CJobList& list, int row, bool& overflowed) {
    // One list for every job of a batch: a fresh one is 160 KB to clear, a used one only what
    // the last job wrote.
    thread_local core::CRangeList ranges;
    ranges.Clear();
    core::NullTrace trace;
    core::SplitParameters(list, list.Text(row, core::kColSplitParameters), row, ranges, trace);
    overflowed = ranges.Overflowed();
    return ranges.Ranges();
}

// The same title the run gives a source's parts.
std::string SourceTitle(const std::string& source) {
    std::string title = core::FileTitle(core::RemoveAll(source, ".pdf"));
    if (title.size() > 254)
        title.resize(254);
    return title;
}

// "out/a.pdf", "./out/a.pdf" and a path through a link to the same folder name one file.
// A batch names tens of thousands of parts in a few folders: each folder is resolved once
// (resolving every path anew took eleven system calls a part, before any worker could start),
// and a file is followed only where it is itself a link: the first files of a folder are
// looked at one by one, a folder with more is read once for its links (an lstat of each of
// 20,000 parts not there yet cost a fifth of a batch's system time, on the thread that writes).
class CKeys {
  public:
    std::string operator()(const std::string& path) {
        // Most paths of a batch are absolute and plain already: split by hand, they cost a
        // tenth of what std::filesystem takes (a fifth of a batch's planning).
        std::string_view folderPath, name;
        if (PlainAbsolute(path)) {
            const size_t cut = path.rfind('/');
            folderPath = cut == 0 ? std::string_view("/") : std::string_view(path).substr(0, cut);
            name = std::string_view(path).substr(cut + 1);
        } else {
            // Absolute first: a relative path whose folder does not exist yet would otherwise
            // stay relative, and "./out" would not meet "out".
            std::error_code ec;
            const std::filesystem::path normal =
                std::filesystem::absolute(path, ec).lexically_normal();
            const std::string last = normal.filename().string();
            if (last.empty() || last == "." || last == "..")
                return Resolved(normal);
            const std::string absolute = normal.string();
            return PlainAbsolute(absolute) ? (*this)(absolute) : Resolved(normal);
        }
        auto [it, added] = m_folders.try_emplace(std::string(folderPath));
        Folder& folder = it->second;
        if (added)
            folder.resolved = Resolved(std::filesystem::path(it->first));
        if (!folder.listed && ++folder.lookups > kLookupsBeforeListing)
            folder.ListLinks(it->first);
        struct stat st;
        const bool link = folder.listed ? folder.links.count(std::string(name)) != 0
                                        : ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        if (link)
            return Resolved(std::filesystem::path(path));
        std::string key = folder.resolved;
        if (key.empty() || key.back() != '/')
            key += '/';
        return key.append(name);
    }

  private:
    static constexpr int kLookupsBeforeListing = 64;

    // An absolute path without "." or ".." parts, doubled or trailing separators.
    static bool PlainAbsolute(std::string_view path) {
        if (path.size() < 2 || path.front() != '/' || path.back() == '/')
            return false;
        for (size_t at = 0; at != std::string_view::npos;) {
            const size_t next = path.find('/', at + 1);
            const std::string_view part =
                path.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
            if (part.empty() || part == "." || part == "..")
                return false;
            at = next;
        }
        return true;
    }

    struct Folder {
        std::string resolved;
        int lookups = 0;
        bool listed = false;
        std::unordered_set<std::string> links;

        // A folder that cannot be read holds no links we could follow.
        void ListLinks(const std::string& path) {
            listed = true;
            DIR* dir = ::opendir(path.c_str());
            if (!dir)
                return;
            while (const struct dirent* entry = ::readdir(dir)) {
                struct stat st;
                if (entry->d_type == DT_LNK ||
                    (entry->d_type == DT_UNKNOWN &&
                     ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISLNK(st.st_mode)))
                    links.insert(entry->d_name);
            }
            ::closedir(dir);
        }
    };

    static std::string Resolved(const std::filesystem::path& absolute) {
        std::error_code ec;
        const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, ec);
        return (ec ? absolute : canonical).string();
    }

    std::unordered_map<std::string, Folder> m_folders;
};

} // namespace

CBatchPlan::CBatchPlan(const core::CJobList& list, const core::SetupOptions& options,
                       core::Prompter& prompter, bool asTheDialogChecks) {
    struct Entry {
        std::string path;
        std::vector<OutputClash::Use> uses;
        bool written = false;
        size_t order = 0;
    };
    std::map<std::string, Entry> byKey;
    CKeys keys;
    std::vector<std::pair<std::string, int>> moved, folders;
    std::unordered_map<std::string, size_t> nameMax; // by folder
    size_t order = 0;
    auto note = [&](const std::string& path, OutputClash::Use use) {
        Entry& e = byKey[keys(path)];
        if (e.uses.empty())
            e.path = path;
        if (use.range > 0 && !e.written) {
            // The clash is listed where its first output comes in the batch.
            e.written = true;
            e.order = order++;
            e.path = path;
        }
        // Jobs come in order and each notes a path once per way it uses it, so a use met again
        // can only be the last one. Looking through all of them made a batch of many jobs of
        // one source quadratic in its jobs.
        if (e.uses.empty() || !(e.uses.back() == use))
            e.uses.push_back(use);
    };

    for (int row = 0; row < list.Count(); ++row) {
        if (!Planned(list, row))
            continue;
        const std::string& source = list.Text(row, core::kColFilename);
        bool overflowed = false;
        const std::vector<core::PageRange> ranges = JobRanges(list, row, overflowed);
        if (asTheDialogChecks &&
            !core::CheckSplitParameters({list.Text(row, core::kColSplitTo),
                                         list.Text(row, core::kColSplitParameters),
                                         core::LeadingInt(list.Text(row, core::kColPages)),
                                         core::LeadingInt(list.Text(row, core::kColSkipPages))},
                                        prompter)) {
            ++m_refused;
            continue;
        }
        // The run refuses these jobs before they write anything, in these words.
        if (list.Text(row, core::kColSplitTo).empty()) {
            prompter.Show("you must specify an destination directory", "Error Destination");
            ++m_refused;
            continue;
        }
        if (overflowed) {
            prompter.Show(core::TooManyRangesText(), "Error in parameters");
            ++m_refused;
            continue;
        }
        const core::OutputPlan plan = core::PlanOutputPaths(
            list, row, ranges, SourceTitle(source),
            core::LeadingInt(list.Text(row, core::kColPageOffset)), options, prompter);
        if (plan.result != core::OutputPlan::Result::Ok) {
            ++m_refused;
            continue;
        }
        // The run would stop at a part whose path the system does not take, in these words.
        if (asTheDialogChecks) {
            const size_t longest = NameMax(list.Text(row, core::kColSplitTo), &nameMax);
            const auto unsaved =
                std::find_if(plan.paths.begin(), plan.paths.end(),
                             [&](const std::string& path) { return !PathFits(path, longest); });
            if (unsaved != plan.paths.end()) {
                prompter.Show("Failed to save file: " + *unsaved);
                ++m_refused;
                continue;
            }
        }
        note(source, {row, 0});
        if (const std::string& moveTo = list.Text(row, core::kColMoveTo); !moveTo.empty()) {
            moved.emplace_back(keys(source), row);
            std::string destination = moveTo;
            destination += core::kSeparator;
            destination += core::FileTitle(source);
            moved.emplace_back(keys(destination), row);
        }
        folders.emplace_back(keys(list.Text(row, core::kColSplitTo)), row);
        for (size_t i = 0; i < plan.paths.size(); ++i)
            note(plan.paths[i], {row, static_cast<int>(i) + 1});
        m_outputs += static_cast<int>(plan.paths.size());
    }

    // `range` tells how `row` touches the path; `others`: only other jobs' uses count.
    auto interlock = [&](const std::string& key, int row, int range, bool others) {
        const auto it = byKey.find(key);
        if (it == byKey.end())
            return;
        OutputClash lock{it->second.path, {{row, range}}};
        for (const auto& use : it->second.uses)
            if (!others || use.row != row)
                lock.uses.push_back(use);
        if (lock.uses.size() == 1)
            return;
        std::stable_sort(lock.uses.begin(), lock.uses.end(),
                         [](const auto& a, const auto& b) { return a.row < b.row; });
        m_interlocks.push_back(std::move(lock));
    };
    for (const auto& [key, row] : moved)
        interlock(key, row, -1, true);
    for (const auto& [key, row] : folders)
        interlock(key, row, -2, false);

    std::vector<const Entry*> clashes;
    for (const auto& [key, e] : byKey) {
        if (!e.written)
            continue;
        // One job writing a path twice with the same pages is the job's own business (its
        // plan has already refused different pages under one name).
        bool otherJob = false;
        for (const auto& use : e.uses)
            otherJob = otherJob || use.row != e.uses.front().row;
        if (otherJob)
            clashes.push_back(&e);
    }
    std::sort(clashes.begin(), clashes.end(),
              [](const Entry* a, const Entry* b) { return a->order < b->order; });
    for (const Entry* e : clashes) {
        OutputClash clash{e->path, e->uses};
        std::stable_sort(clash.uses.begin(), clash.uses.end(),
                         [](const auto& a, const auto& b) { return a.row < b.row; });
        m_clashes.push_back(std::move(clash));
    }
}

int CountParts(const core::CJobList& list) {
    int parts = 0;
    for (int row = 0; row < list.Count(); ++row) {
        bool overflowed = false;
        if (Planned(list, row))
            parts += static_cast<int>(JobRanges(list, row, overflowed).size());
    }
    return parts;
}

std::string ClashText(const OutputClash& clash) {
    std::string text = clash.path;
    for (const auto& use : clash.uses) {
        text += "\tjob " + std::to_string(use.row + 1);
        text += use.range == 0    ? ", source"
                : use.range == -1 ? ", moved"
                : use.range == -2 ? ", folder"
                                  : ", range " + std::to_string(use.range);
    }
    return text;
}

} // namespace cli
