#include "tests/support/FileSizeLimit.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

std::string InChildWithFileSizeLimit(size_t limitBytes, const std::function<std::string()>& body) {
    int channel[2];
    if (::pipe(channel) != 0)
        return "<no pipe>";
    const pid_t child = ::fork();
    if (child < 0)
        return "<no fork>";
    if (child == 0) {
        ::close(channel[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(limitBytes), static_cast<rlim_t>(limitBytes)};
        std::string text = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? body() : "<no limit>";
        const char* at = text.data();
        size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(channel[1], at, left);
            if (n <= 0)
                break;
            at += n;
            left -= static_cast<size_t>(n);
        }
        ::_exit(0); // no destructors or exit handlers of the parent's objects in the child
    }
    ::close(channel[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<child died>" + text;
    return text;
}

std::string DirectoryListing(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names)
        out += (out.empty() ? "" : " ") + name;
    return out;
}

} // namespace testing_support
