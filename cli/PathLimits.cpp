#include "cli/PathLimits.h"

#include "core/Files.h"

#include <climits>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace cli {

size_t NameMax(const std::string& folder, std::unordered_map<std::string, size_t>* known) {
    // A batch's folders mostly share their parents, and many are not made yet: each folder
    // on the way is asked once, not three times a job.
    std::vector<std::string> asked;
    size_t max = NAME_MAX;
    for (std::filesystem::path at = folder; !at.empty(); at = at.parent_path()) {
        if (known) {
            if (const auto it = known->find(at.string()); it != known->end()) {
                max = it->second;
                break;
            }
            asked.push_back(at.string());
        }
        if (const long got = ::pathconf(at.c_str(), _PC_NAME_MAX); got > 0) {
            max = static_cast<size_t>(got);
            break;
        }
        if (at == at.parent_path())
            break;
    }
    for (const std::string& path : asked)
        known->emplace(path, max);
    return max;
}

bool PathFits(const std::string& path, size_t nameMax) {
    if (path.size() >= PATH_MAX)
        return false;
    for (size_t at = 0; at < path.size();) {
        size_t end = path.find(core::kSeparator, at);
        if (end == std::string::npos)
            end = path.size();
        if (end - at > nameMax)
            return false;
        at = end + 1;
    }
    return true;
}

} // namespace cli
