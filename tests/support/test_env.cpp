#include "support/test_env.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/strings.h"

namespace orvo::test {

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name.c_str())) m_old = old;
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvo-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::wstring TempDir::wpath() const { return platform::FromUtf8(m_path); }

IsolatedEnvTest::IsolatedEnvTest() {
    const std::string h = home();
    MakeDirs(h);
    MakeDirs(sysroot());
    const std::pair<const char*, std::string> vars[] = {
        {"HOME", h},
        {"XDG_CONFIG_HOME", h + "/.config"},
        {"XDG_DATA_HOME", h + "/.local/share"},
        {"XDG_CACHE_HOME", h + "/.cache"},
        {"XDG_STATE_HOME", h + "/.local/state"},
        {"XDG_RUNTIME_DIR", m_root / "run"},
        {"XDG_DOCUMENTS_DIR", h + "/Documents"},
        {"ORVO_SYSROOT", sysroot()},
    };
    MakeDirs(m_root / "run");
    for (const auto& [name, value] : vars) m_env[name] = std::make_unique<ScopedEnv>(name, value);
}

IsolatedEnvTest::~IsolatedEnvTest() = default;

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

int Run(const std::string& command, std::string* out) {
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (out != nullptr) out->append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string BuiltBinary(const std::string& relPath) { return std::string(ORVO_BINARY_DIR) + "/" + relPath; }

}  // namespace orvo::test
