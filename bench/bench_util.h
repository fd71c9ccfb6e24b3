// Helpers shared by the benchmark drivers: run a program, time it and read its peak memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace orvo::bench {

struct Result {
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    int status = -1;
};

// Runs a program (searched in PATH) and measures wall time, CPU time and peak resident memory.
inline Result Measure(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string SelfExe() {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    return std::string(exe, n > 0 ? static_cast<size_t>(n) : 0);
}

inline double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace orvo::bench
