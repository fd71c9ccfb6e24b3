// What the Linux-side drivers of the Windows program need: the Windows build, Wine and the
// paths as Windows programs in the prefix see them.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace orvo::test::wine {

// The Windows build tree (scripts/wine-tests sets ORVO_WINDOWS_BUILD); empty without one.
inline std::string WindowsBuild() {
    const char* b = std::getenv("ORVO_WINDOWS_BUILD");
    return b != nullptr ? b : "";
}

inline std::string Wine() { return ::access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine"; }

// The path as Windows programs in the prefix see it (drive Z: is the Linux root).
inline std::string WinPath(std::string path) {
    for (auto& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The pipes and sockets a process holds ("pipe:[inode]"), less those the calling process holds
// too (inherited ones).
inline std::set<std::string> PipesOf(pid_t pid, bool bLessOwn = true) {
    std::set<std::string> links;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code unreadable;
        const std::string target = std::filesystem::read_symlink(fd.path(), unreadable).string();
        if (!unreadable && (target.rfind("pipe:", 0) == 0 || target.rfind("socket:", 0) == 0)) links.insert(target);
    }
    if (bLessOwn)
        for (const std::string& own : PipesOf(::getpid(), false)) links.erase(own);
    return links;
}

// Whether a Wine server holds one of these pipes that no other living process holds (a pipe the
// killed process shared with a child that lives on stays open for the child).
inline bool AServerHoldsAlone(const std::set<std::string>& links) {
    std::set<std::string> server, others;
    std::error_code ec;
    for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = proc.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string comm;
        std::getline(std::ifstream(proc.path() / "comm"), comm);
        auto& into = comm.rfind("wineserver", 0) == 0 ? server : others;
        for (const std::string& held : PipesOf(std::stoi(name), false))
            if (links.count(held) != 0) into.insert(held);
    }
    for (const std::string& held : server)
        if (others.count(held) == 0) return true;
    return false;
}

// A Windows process talks to the Wine server through pipes of its own; the server closes its
// ends once it has let go of a process that died (its handles closed, its files released, its
// mutexes abandoned). Takes the pipes of processes taken before they were killed and waits until
// no server holds one of them alone, at most nSeconds; false when one still does.
inline bool WaitUntilTheServerLetsGo(const std::set<std::string>& links, int nSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    while (AServerHoldsAlone(links)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace orvo::test::wine
