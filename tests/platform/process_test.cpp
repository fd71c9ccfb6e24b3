#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
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
