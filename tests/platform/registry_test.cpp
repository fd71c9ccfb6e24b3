#include "platform/registry.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#endif

#include "platform/strings.h"
#include "support/test_env.h"

using namespace platform;

class RegistryStore : public orvo::test::IsolatedEnvTest {};

TEST_F(RegistryStore, KeysAndValuesIgnoreCaseAndKeepSpelling) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(RootCurrentUser, L"Software\\Vendor\\App", key), 0u);
    ASSERT_EQ(key.SetValue(L"Path", REG_SZ_, EncodeRegString(L"/opt/앱")), 0u);
    ASSERT_EQ(key.SetValue(L"Count", REG_DWORD_, EncodeRegDword(7)), 0u);
    key.Close();

    RegKey again;
    ASSERT_EQ(RegKey::Open(RootCurrentUser, L"SOFTWARE\\vendor\\APP", RegAccess::Read, again), 0u);
    RegValue v;
    ASSERT_EQ(again.QueryValue(L"PATH", v), 0u);
    EXPECT_EQ(v.type, REG_SZ_);
    EXPECT_EQ(DecodeRegString(v.data), L"/opt/앱");
    ASSERT_EQ(again.QueryValue(L"count", v), 0u);
    EXPECT_EQ(DecodeRegDword(v.data), 7u);
    EXPECT_EQ(v.name, L"Count");

    RegKey parent;
    ASSERT_EQ(RegKey::Open(RootCurrentUser, L"software", RegAccess::Read, parent), 0u);
    EXPECT_EQ(parent.SubKeys(), std::vector<std::wstring>{L"Vendor"});
}

TEST_F(RegistryStore, MissingKeysHivesAndValuesFailLikeTheRegistry) {
    RegKey key;
    EXPECT_EQ(RegKey::Open(RootLocalMachine, L"Software", RegAccess::Read, key), ERROR_FILE_NOT_FOUND_);  // no hive yet
    ASSERT_EQ(RegKey::Create(RootLocalMachine, L"Software\\A", key), 0u);
    EXPECT_EQ(RegKey::Open(RootLocalMachine, L"Software\\B", RegAccess::Read, key), ERROR_FILE_NOT_FOUND_);
    ASSERT_EQ(RegKey::Open(RootLocalMachine, L"Software\\A", RegAccess::Read, key), 0u);
    RegValue v;
    EXPECT_EQ(key.QueryValue(L"x", v), ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(key.SetValue(L"x", REG_SZ_, EncodeRegString(L"y")), ERROR_ACCESS_DENIED_);  // opened for reading
    // Hives are separate: the user hive does not see the machine's keys.
    EXPECT_EQ(RegKey::Open(RootCurrentUser, L"Software\\A", RegAccess::Read, key), ERROR_FILE_NOT_FOUND_);
#ifndef _WIN32
    // On Linux each hive is its own file, created by the first write.
    EXPECT_TRUE(orvo::test::Exists(sysroot() + "/var/lib/orvo/registry/HKLM.db"));
    EXPECT_TRUE(orvo::test::Exists(home() + "/.config/orvo/registry") == false);
#endif
}

#ifndef _WIN32
// A hive that is not a database is reported as damaged, whether it is read or written.
TEST_F(RegistryStore, ADamagedHiveIsToldApartFromAMissingOrDeniedOne) {
    orvo::test::WriteFile(home() + "/.config/orvo/registry/HKCU.db", std::string(4096, 'x'));
    RegKey key;
    EXPECT_EQ(RegKey::Create(RootCurrentUser, L"Software\\A", key), ERROR_REGISTRY_CORRUPT_);
    EXPECT_EQ(RegKey::Open(RootCurrentUser, L"Software\\A", RegAccess::Read, key), ERROR_REGISTRY_CORRUPT_);
}
#endif

TEST_F(RegistryStore, DeleteTreeRemovesOnlyThatBranch) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(RootCurrentUser, L"A\\B\\C", key), 0u);
    ASSERT_EQ(key.SetValue(L"", REG_SZ_, EncodeRegString(L"default")), 0u);
    ASSERT_EQ(RegKey::Create(RootCurrentUser, L"A\\B_%", key), 0u);  // wildcard characters are plain text
    ASSERT_EQ(RegKey::Create(RootCurrentUser, L"A\\BX", key), 0u);
    key.Close();
    ASSERT_EQ(RegKey::DeleteTree(RootCurrentUser, L"a\\b"), 0u);
    EXPECT_EQ(RegKey::Open(RootCurrentUser, L"A\\B\\C", RegAccess::Read, key), ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(RegKey::Open(RootCurrentUser, L"A\\B_%", RegAccess::Read, key), 0u);
    EXPECT_EQ(RegKey::Open(RootCurrentUser, L"A\\BX", RegAccess::Read, key), 0u);
}

#ifndef _WIN32
// The store's own transactions; on Windows the system's registry answers for this.
TEST_F(RegistryStore, ConcurrentWritersAndAKilledWriterLeaveAConsistentHive) {
    // Two processes write the same hive at once, then a writer is killed mid-stream.
    auto writer = [](int id, int count) {
        for (int i = 0; i < count; ++i) {
            RegKey key;
            if (RegKey::Create(RootCurrentUser, FormatW(L"Load\\W%d", id), key) != 0) _exit(2);
            if (key.SetValue(FormatW(L"v%d", i), REG_DWORD_, EncodeRegDword(static_cast<uint32_t>(i))) != 0) _exit(3);
        }
        _exit(0);
    };
    pid_t a = fork();
    if (a == 0) writer(1, 150);
    pid_t b = fork();
    if (b == 0) writer(2, 150);
    int status = 0;
    ASSERT_EQ(waitpid(a, &status, 0), a);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(waitpid(b, &status, 0), b);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    pid_t victim = fork();
    if (victim == 0) writer(3, 1000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(victim, SIGKILL);
    waitpid(victim, &status, 0);

    RegKey key;
    for (int id : {1, 2}) {
        ASSERT_EQ(RegKey::Open(RootCurrentUser, FormatW(L"Load\\W%d", id), RegAccess::Read, key), 0u);
        EXPECT_EQ(key.Values().size(), 150u);
    }
    ASSERT_EQ(RegKey::Open(RootCurrentUser, L"Load\\W3", RegAccess::Read, key), 0u);
    const auto values = key.Values();
    for (const auto& v : values) EXPECT_EQ(v.data.size(), 4u);
    RegKey w;
    ASSERT_EQ(RegKey::Create(RootCurrentUser, L"Load\\After", w), 0u);  // the hive is still writable
}
#endif

TEST(RegistryEncoding, StringsStopAtTheFirstZeroAndRootNamesParse) {
    auto data = EncodeRegString(L"ab");
    data.insert(data.end() - 2, {std::byte{0}, std::byte{0}, std::byte{'c'}, std::byte{0}});
    EXPECT_EQ(DecodeRegString(data), L"ab");
    const std::byte odd[] = {std::byte{'x'}, std::byte{0}, std::byte{'y'}};  // unterminated, odd length
    EXPECT_EQ(DecodeRegString(odd), L"x");
    EXPECT_EQ(DecodeRegString(EncodeRegString(L"\U0001F600")), L"\U0001F600");
    EXPECT_EQ(ParseRootKeyName(L"hklm"), RootLocalMachine);
    EXPECT_EQ(ParseRootKeyName(L"HKEY_CURRENT_USER"), RootCurrentUser);
    EXPECT_FALSE(ParseRootKeyName(L"HKXX"));
}
