#include "tests/support/Process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

std::string ReadAll(FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

} // namespace

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd) {
    ProcessResult result;
    // Files, not pipes: a chatty program can never block on a full pipe nobody reads.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err || argv.empty())
        return result;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        ::dup2(::fileno(out), STDOUT_FILENO);
        ::dup2(::fileno(err), STDERR_FILENO);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    std::fclose(out);
    std::fclose(err);
    return result;
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

} // namespace testing_support
