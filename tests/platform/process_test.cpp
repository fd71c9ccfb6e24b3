#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace platform;

class Processes : public orvo::test::IsolatedEnvTest {};

TEST_F(Processes, NamedMutexIsHeldUntilClosedAndNamesDoNotCollide) {
    const std::wstring name = FormatW(L"http://127.0.0.1/orvo-test/%u/manifest.xml", CurrentProcessId());
    const MutexCreateResult first = CreateNamedMutex(name);
    ASSERT_NE(first.hMutex, 0);
    EXPECT_EQ(first.nLastError, 0u);

    const MutexCreateResult second = CreateNamedMutex(name);
    EXPECT_NE(second.hMutex, 0);
    EXPECT_EQ(second.nLastError, ERROR_ALREADY_EXISTS_);

    const MutexCreateResult other = CreateNamedMutex(name + L"?other");
    EXPECT_NE(other.hMutex, 0);
    EXPECT_EQ(other.nLastError, 0u);

    CloseMutexHandle(first.hMutex);
    CloseMutexHandle(second.hMutex);
    CloseMutexHandle(other.hMutex);
    const MutexCreateResult again = CreateNamedMutex(name);
    EXPECT_NE(again.hMutex, 0);
    EXPECT_EQ(again.nLastError, 0u);
    CloseMutexHandle(again.hMutex);
}

TEST_F(Processes, LaunchRunsTheProgramWithItsParametersAndReportsAMissingOne) {
    orvo::test::TempDir dir;
    // The shell gets the path in the system's own spelling.
    const std::wstring out = FromNativePath(ToNativePath(dir.wpath() + L"\\launched.txt"));
#ifdef _WIN32
    const std::wstring program = GetSpecialFolderPath(CSIDL_SYSTEM, false).value() + L"\\cmd.exe";
    const std::wstring params = FormatW(L"/c echo launched> \"%s\"", out);
#else
    const std::wstring program = L"/bin/sh";
    const std::wstring params = FormatW(L"-c \"echo launched > '%s'\"", out);
#endif
    const LaunchResult launched = ShellOpen(program, params, SW_SHOWNORMAL_);
    EXPECT_GT(launched.nInstance, 32);
    EXPECT_EQ(launched.nLastError, 0u);
    // The program runs on its own; wait for its output.
    for (int i = 0; i < 200 && !(FileSize(out).value_or(0) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(orvo::test::ReadFile(platform::ToUtf8(out)).substr(0, 8), "launched");

    const LaunchResult missing = ShellOpen(dir.wpath() + L"\\missing.exe", L"", SW_SHOWNORMAL_);
    EXPECT_LE(missing.nInstance, 32);
    EXPECT_EQ(missing.nInstance, 2);  // file not found
    EXPECT_EQ(missing.nLastError, ERROR_FILE_NOT_FOUND_);
}

#ifndef _WIN32
// A target that cannot be run says why, not "file not found".
TEST_F(Processes, ATargetThatIsNoProgramIsReportedAsSuch) {
    orvo::test::TempDir dir;
    const std::string garbage = dir / "garbage.bin";
    orvo::test::WriteFile(garbage, std::string("\x01\x02 not a program\n"));
    ASSERT_EQ(SetExecutable(FromNativePath(garbage)), 0u);
    const LaunchResult launched = ShellOpen(FromNativePath(garbage), L"", SW_SHOWNORMAL_);
    EXPECT_LE(launched.nInstance, 32);
    EXPECT_EQ(launched.nLastError, ERROR_BAD_EXE_FORMAT_);
    EXPECT_EQ(launched.nSystemError, ENOEXEC);
}
#endif

TEST(CommandLine, ArgumentsAfterTheProgramNameAreKeptAsWritten) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"\"C:\\Program Files (x86)\\Orvo\\u.exe\" url NULL app.exe -v \"two  words\" 한글 café",
         L"url NULL app.exe -v \"two  words\" 한글 café"},
        {L"u.exe \t  url", L"url"},
        {L"\"C:\\a b\\u.exe\"glued on next", L"on next"},  // the name runs to a blank outside quotes
        {L"\"u.exe\"", L""},
        {L"u.exe", L""},
        {L"", L""},
        {L"\"unterminated name with spaces", L""},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(ArgumentsAfterProgramName(line), expected) << ToUtf8(line);
}

TEST(CommandLineArgs, JoinedArgumentsSplitBackIntoTheSame) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"-a", L"x y"},
        {L"two  spaces", L"", L"tab\there"},
        {L"q\"uote", L"\"", L"\"both ends\""},
        {L"back\\slash\\", L"\\\\server\\share", L"end\\\\\"mix"},
        {L"plain", L"한글 인자"},
        {},
    };
    for (const auto& args : cases) {
        const std::wstring line = JoinCommandLineArgs(args);
        EXPECT_EQ(SplitCommandLineArgs(line), args) << ToUtf8(line);
    }
    EXPECT_EQ(JoinCommandLineArgs({L"-v", L"x"}), L"-v x");  // nothing quoted that needs none
}

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

// The lock lives only in a folder of this user that nobody else may enter, and is never opened
// through a link: a folder or file another user prepared is refused (the next folder is tried),
// and with no usable place the lock cannot be taken at all.
TEST_F(Processes, TheLockIsTakenOnlyInAPrivateFolderAndNeverThroughALink) {
    const std::string tmp = m_root / "tmp", cache = home() + "/.cache", elsewhere = m_root / "elsewhere";
    const std::string shared = tmp + "/orvo-" + std::to_string(::geteuid()), fallback = cache + "/orvo-locks";
    orvo::test::ScopedEnv run("XDG_RUNTIME_DIR", std::string("relative/run")), tmpdir("TMPDIR", tmp), xdg("XDG_CACHE_HOME", cache);
    const std::wstring name = L"http://127.0.0.1/lock-test.xml";
    auto lockFileIn = [&](const std::string& folder) -> std::string {
        for (const auto& e : std::filesystem::directory_iterator(folder)) return e.path().string();
        return "";
    };
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string expectedFolder;  // empty: no lock at all
    };
    const bool root = ::geteuid() == 0;
    const Case cases[] = {
        {"missing temporary folder is made private", [] {}, shared},
        {"ours, readable by others: closed up", [&] { orvo::test::MakeDirs(shared); ::chmod(shared.c_str(), 0755); }, shared},
        {"open to others", [&] { orvo::test::MakeDirs(shared); ::chmod(shared.c_str(), 0777); }, fallback},
        {"a link to another folder", [&] { orvo::test::MakeDirs(elsewhere); ::symlink(elsewhere.c_str(), shared.c_str()); }, fallback},
        {"another user's", [&] { orvo::test::MakeDirs(shared); ::chmod(shared.c_str(), 0700); if (root) (void)!::chown(shared.c_str(), 65534, 65534); },
         root ? fallback : shared},
        {"every folder refused", [&] { orvo::test::MakeDirs(shared); ::chmod(shared.c_str(), 0777); orvo::test::MakeDirs(fallback); ::chmod(fallback.c_str(), 0775); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(tmp);
        std::filesystem::remove_all(fallback);
        std::filesystem::remove_all(elsewhere);
        orvo::test::MakeDirs(tmp);
        c.prepare();
        const MutexCreateResult lock = CreateNamedMutex(name);
        if (c.expectedFolder.empty()) {
            EXPECT_EQ(lock.hMutex, 0);
            EXPECT_EQ(lock.nLastError, ERROR_ACCESS_DENIED_);
        } else {
            EXPECT_NE(lock.hMutex, 0);
            EXPECT_EQ(lock.nLastError, 0u);
            EXPECT_NE(lockFileIn(c.expectedFolder), "");
            struct stat st {};
            ASSERT_EQ(::lstat(c.expectedFolder.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
        if (orvo::test::Exists(elsewhere)) {
            EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
        }
        CloseMutexHandle(lock.hMutex);
    }

    // In a private folder, a lock file that is a link (or not the user's) is refused.
    std::filesystem::remove_all(tmp);
    orvo::test::MakeDirs(tmp);
    const MutexCreateResult first = CreateNamedMutex(name);
    ASSERT_NE(first.hMutex, 0);
    CloseMutexHandle(first.hMutex);
    const std::string lockFile = lockFileIn(shared);
    ::unlink(lockFile.c_str());
    ASSERT_EQ(::symlink((m_root / "planted").c_str(), lockFile.c_str()), 0);
    const MutexCreateResult linked = CreateNamedMutex(name);
    EXPECT_EQ(linked.hMutex, 0);
    EXPECT_EQ(linked.nLastError, ERROR_ACCESS_DENIED_);
    EXPECT_FALSE(orvo::test::Exists(m_root / "planted"));
}
#endif
