// A temporary world for one test: HOME, the XDG folders and ORVO_SYSROOT all point into a
// fresh folder that is removed afterwards, so no test touches the real home or system folders.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orvo::test {

class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Creates a unique temporary folder and removes it (recursively) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::wstring wpath() const;
    std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }

private:
    std::string m_path;
};

// Fixture base that isolates HOME, XDG_* and ORVO_SYSROOT in a temporary folder. On Windows
// the registry is the system's own: the fixture maps the root keys, for this process, onto
// fresh keys below HKCU\Software\OrvoTest\<random>, removed afterwards.
class IsolatedEnvTest : public ::testing::Test {
protected:
    IsolatedEnvTest();
    ~IsolatedEnvTest() override;
    TempDir m_root;
    std::string home() const { return m_root / "home"; }
    std::string sysroot() const { return m_root / "sysroot"; }

private:
    std::map<std::string, std::unique_ptr<ScopedEnv>> m_env;
    struct RegistrySandbox;
    std::unique_ptr<RegistrySandbox> m_registry;
};

// A folder where an updater counts as a shared installation of the system: $ORVO_SYSROOT/usr/bin
// (made) on Linux, a folder below Program Files (not made) on Windows.
std::wstring SharedInstallFolder(const std::string& sysroot);

// Helpers for files in tests.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);
// Runs a command through the shell (/bin/sh; cmd.exe on Windows), returns its exit status and
// (optionally) its stdout.
int Run(const std::string& command, std::string* out = nullptr);
// Path of a built binary in the build tree.
std::string BuiltBinary(const std::string& relPath);
// The same for an executable, with the platform's suffix (".exe" on Windows) added.
std::string BuiltExecutable(const std::string& relPath);

}  // namespace orvo::test
