// The Windows crash handler: an access violation on a thread of its own ends in a dump that
// holds the faulting thread, written into a folder made for it, and in the continuation.
#ifdef _WIN32
#include "platform/dump.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::wstring g_dumpPath;
std::wstring g_tidPath;
volatile DWORD g_faultingThread = 0;

DWORD WINAPI FaultingThread(void*) {
    g_faultingThread = ::GetCurrentThreadId();
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}

uint32_t U32(const std::string& b, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
    return v;
}

}  // namespace

TEST(WindowsCrashDump, FaultWritesDumpOfTheFaultingThread) {
    // The death test's child runs this body again: it finds the folder through the environment.
    wchar_t dir[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"ORVO_TEST_DUMP_DIR", dir, MAX_PATH) == 0) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        std::wstringstream name;
        name << temp << L"orvo-dump-" << ::GetCurrentProcessId() << L"-" << ::GetTickCount();
        wcscpy_s(dir, name.str().c_str());
        ::SetEnvironmentVariableW(L"ORVO_TEST_DUMP_DIR", dir);
    }
    const std::wstring dumpDir = std::wstring(dir) + L"\\not\\yet";
    g_dumpPath = dumpDir + L"\\OrvoUpdaterDump_0000.dmp";
    g_tidPath = std::wstring(dir) + L"\\faulting-thread";

    EXPECT_EXIT(
        {
            platform::CrashHandlerSettings s;
            s.strDumpDir = dumpDir;
            s.strDumpPath = g_dumpPath;
            s.strDbgHelpDir = L"C:\\windows\\system32";
            // The continuation tells the parent which thread faulted.
            s.pfnContinue = [](const std::wstring& written) {
                std::ofstream(g_tidPath.c_str()) << g_faultingThread;
                std::_Exit(written == g_dumpPath ? 0 : 3);
            };
            platform::InstallCrashHandler(s);
            HANDLE t = ::CreateThread(nullptr, 0, FaultingThread, nullptr, 0, nullptr);
            ::WaitForSingleObject(t, 240000);  // the filter ends the process first
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(0), "");

    std::ifstream in(g_dumpPath.c_str(), std::ios::binary);
    const std::string dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    ASSERT_GE(dump.size(), 32u);
    EXPECT_EQ(dump.substr(0, 4), "MDMP");
    uint32_t faultThread = 0;
    std::ifstream(g_tidPath.c_str()) >> faultThread;
    ASSERT_NE(faultThread, 0u);
    size_t threads = 0;
    for (uint32_t i = 0; i < U32(dump, 8); ++i) {
        const size_t entry = U32(dump, 12) + i * 12;
        if (U32(dump, entry) == 3) threads = U32(dump, entry + 8);
    }
    ASSERT_NE(threads, 0u) << "no thread list";
    bool found = false;
    for (uint32_t i = 0; i < U32(dump, threads); ++i) found = found || U32(dump, threads + 4 + i * 48) == faultThread;
    EXPECT_TRUE(found) << "the faulting thread " << faultThread << " is not in the thread list";
    ::DeleteFileW(g_tidPath.c_str());
    ::DeleteFileW(g_dumpPath.c_str());
    ::RemoveDirectoryW(dumpDir.c_str());
    ::RemoveDirectoryW((std::wstring(dir) + L"\\not").c_str());
    ::RemoveDirectoryW(dir);
}

#endif
