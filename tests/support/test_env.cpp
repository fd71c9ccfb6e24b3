#include "support/test_env.h"

// Our platform headers come before <windows.h>, whose macros share some of their names.
#include "platform/folders.h"
#include "platform/strings.h"

#ifdef _WIN32
#include <windows.h>

#include <stdlib.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace orvo::test {

namespace {

// Test paths are UTF-8 text; Windows file names are UTF-16.
std::filesystem::path FsPath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(platform::FromUtf8(path));
#else
    return std::filesystem::path(path);
#endif
}

#ifdef _WIN32
std::string FsText(const std::filesystem::path& path) { return platform::ToUtf8(path.wstring()); }
#endif

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // An empty value removes the variable, both from the C runtime's copy and the process's.
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name.c_str())) m_old = old;
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(m_name, m_old); }

TempDir::TempDir() {
#ifdef _WIN32
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        char name[32];
        std::snprintf(name, sizeof name, "orvo-test-%08x", static_cast<unsigned>(rd()));
        const auto candidate = base / name;
        if (std::filesystem::create_directory(candidate)) {
            m_path = FsText(candidate);
            break;
        }
    }
#else
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvo-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    const auto root = FsPath(m_path);
    // Tests may leave read-only files behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(root, ec);
}

std::wstring TempDir::wpath() const { return platform::FromUtf8(m_path); }

#ifdef _WIN32
struct IsolatedEnvTest::RegistrySandbox {
    std::wstring base;
    std::vector<std::pair<HKEY, HKEY>> overrides;  // predefined key, its stand-in

    RegistrySandbox() {
        std::random_device rd;
        base = platform::FormatW(L"Software\\OrvoTest\\%08x%08x", rd(), rd());
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
            HKEY standIn = nullptr;
            const std::wstring path = platform::FormatW(L"%s\\%08x", base, static_cast<unsigned>(
                                                                              reinterpret_cast<uintptr_t>(root)));
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &standIn,
                                  nullptr) != ERROR_SUCCESS)
                throw std::runtime_error("cannot create the test registry key");
            overrides.emplace_back(root, standIn);
        }
        // HKCU last: the stand-ins above are created through the real one.
        for (auto it = overrides.rbegin(); it != overrides.rend(); ++it)
            if (::RegOverridePredefKey(it->first, it->second) != ERROR_SUCCESS)
                throw std::runtime_error("cannot map a root key for the test");
    }
    ~RegistrySandbox() {
        for (auto& [root, standIn] : overrides) {
            ::RegOverridePredefKey(root, nullptr);
            ::RegCloseKey(standIn);
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
    }
};
#else
struct IsolatedEnvTest::RegistrySandbox {};  // the hives follow XDG_CONFIG_HOME and ORVO_SYSROOT
#endif

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
    m_registry = std::make_unique<RegistrySandbox>();
}

IsolatedEnvTest::~IsolatedEnvTest() = default;

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(FsPath(path).parent_path());
    std::ofstream f(FsPath(path), std::ios::binary | std::ios::trunc);
    f << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(FsPath(path), std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(FsPath(path), ec));
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(FsPath(path)); }

int Run(const std::string& command, std::string* out) {
#ifdef _WIN32
    FILE* p = ::_popen(command.c_str(), "rb");
#else
    FILE* p = ::popen(command.c_str(), "r");
#endif
    if (p == nullptr) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (out != nullptr) out->append(buf, n);
#ifdef _WIN32
    return ::_pclose(p);
#else
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string BuiltBinary(const std::string& relPath) {
#ifdef _WIN32
    // The build tree as this test executable sees it: <build>/tests/<suite>_tests.exe.
    const auto exe = platform::GetModuleFilePath();
    if (!exe) return relPath;
    return FsText(std::filesystem::path(*exe).parent_path().parent_path() / FsPath(relPath));
#else
    return std::string(ORVO_BINARY_DIR) + "/" + relPath;
#endif
}

std::string BuiltExecutable(const std::string& relPath) { return BuiltBinary(relPath + ORVO_EXE_SUFFIX); }

std::wstring SharedInstallFolder(const std::string& sysroot) {
#ifdef _WIN32
    (void)sysroot;
    return platform::GetSpecialFolderPath(platform::CSIDL_PROGRAM_FILES, false).value_or(L"C:\\Program Files") +
           L"\\OrvoTest\\bin";
#else
    MakeDirs(sysroot + "/usr/bin");
    return platform::FromUtf8(sysroot + "/usr/bin");
#endif
}

}  // namespace orvo::test
