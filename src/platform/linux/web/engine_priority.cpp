#include "platform/linux/web/engine_priority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace platform::gtkwin {

namespace {

// Nice steps below the updater's own priority. Raising a nice value needs no privilege.
constexpr int kLowerBy = 10;
// bwrap and its init stand between the updater and a sandboxed engine process.
constexpr int kMaxDepth = 4;

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> children;
    const std::string base = "/proc/" + std::to_string(pid) + "/task/";
    for (const std::string& task : Entries(base)) {
        std::ifstream in(base + task + "/children");
        long child = 0;
        while (in >> child) children.push_back(static_cast<pid_t>(child));
    }
    return children;
}

bool IsEngineProcess(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm.rfind("WebKit", 0) == 0;
}

void Lower(pid_t pid, int nNice) {
    // Nice values belong to threads: every thread the process has so far, and the ones they
    // start later inherit it.
    for (const std::string& task : Entries("/proc/" + std::to_string(pid) + "/task/")) {
        const id_t tid = static_cast<id_t>(std::strtol(task.c_str(), nullptr, 10));
        errno = 0;
        const int now = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0 && now < nNice) ::setpriority(PRIO_PROCESS, tid, nNice);
    }
}

void Walk(pid_t pid, int nDepth, int nNice, std::set<pid_t>& lowered) {
    if (nDepth > kMaxDepth) return;
    for (pid_t child : Children(pid)) {
        if (lowered.count(child) == 0 && IsEngineProcess(child)) {
            Lower(child, nNice);
            lowered.insert(child);
        }
        Walk(child, nDepth + 1, nNice, lowered);
    }
}

}  // namespace

void LowerEnginePriority() {
    static std::set<pid_t> lowered;  // the window thread's own
    errno = 0;
    const int own = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0) return;
    const int nice = own + kLowerBy > 19 ? 19 : own + kLowerBy;
    Walk(::getpid(), 0, nice, lowered);
}

}  // namespace platform::gtkwin
