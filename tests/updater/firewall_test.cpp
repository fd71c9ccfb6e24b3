// The list as the Linux backend keeps it in the machine hive. Wine's firewall objects accept
// calls but store nothing, so there is no list to check under Wine: Linux only.
#ifndef _WIN32
#include "updater/WindowsFirewall.h"

#include <gtest/gtest.h>

#include "platform/com.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace orvo::test;

namespace {

class FirewallTest : public IsolatedEnvTest {
protected:
    // The stored entry for a path, as the registry holds it; empty when there is none.
    static std::wstring Stored(const std::wstring& szPath) {
        platform::RegKey key;
        if (platform::RegKey::Open(platform::RootLocalMachine, platform::kFirewallListKey,
                                   platform::RegAccess::Read, key) != 0) {
            return L"";
        }
        platform::RegValue value;
        if (key.QueryValue(szPath, value) != 0) return L"";
        return platform::DecodeRegString(value.data);
    }
    static void Store(const std::wstring& szPath, const std::wstring& szData) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::Create(platform::RootLocalMachine, platform::kFirewallListKey, key), 0u);
        ASSERT_EQ(key.SetValue(szPath, platform::REG_SZ_, platform::EncodeRegString(szData)), 0u);
    }
    static size_t ListSize() {
        platform::RegKey key;
        if (platform::RegKey::Open(platform::RootLocalMachine, platform::kFirewallListKey,
                                   platform::RegAccess::Read, key) != 0) {
            return 0;
        }
        return key.Values().size();
    }
};

}  // namespace

TEST_F(FirewallTest, AuthorizesOnlyWhatIsNotEnabledAlready) {
    CWindowsFirewall fw;
    ASSERT_EQ(WindowsFirewallOpenProfile(fw.m_pProfile), 0);
    ASSERT_TRUE(fw.m_pProfile);

    const std::wstring fresh = L"/opt/orvo/bin/client";
    const std::wstring enabled = L"/opt/orvo/bin/a:b";  // a path holding the separator itself
    const std::wstring disabled = L"/opt/orvo/bin/agent";
    Store(enabled, enabled + L":*:Enabled:Old Name");
    Store(disabled, disabled + L":*:Disabled:Agent");

    int nEnabled = -1;
    EXPECT_EQ(WindowsFirewallAppIsEnabled(&fw, nEnabled, fresh), 0);
    EXPECT_EQ(nEnabled, 0);
    EXPECT_EQ(WindowsFirewallAppIsEnabled(&fw, nEnabled, enabled), 0);
    EXPECT_EQ(nEnabled, 1);
    EXPECT_EQ(WindowsFirewallAppIsEnabled(&fw, nEnabled, disabled), 0);
    EXPECT_EQ(nEnabled, 0);

    EXPECT_EQ(WindowsFirewallAuthorizeApp(fresh, &fw, L"Orvo Client"), 0);
    EXPECT_EQ(WindowsFirewallAuthorizeApp(enabled, &fw, L"New Name"), 0);
    EXPECT_EQ(WindowsFirewallAuthorizeApp(disabled, &fw, L"Agent 2"), 0);
    EXPECT_EQ(WindowsFirewallAuthorizeApp(L"/opt/orvo/bin/noname", &fw, L""), platform::E_OUTOFMEMORY_);

    EXPECT_EQ(Stored(fresh), fresh + L":*:Enabled:Orvo Client");
    EXPECT_EQ(Stored(enabled), enabled + L":*:Enabled:Old Name") << "an enabled entry is left alone";
    EXPECT_EQ(Stored(disabled), disabled + L":*:Enabled:Agent 2");
    EXPECT_EQ(Stored(L"/opt/orvo/bin/noname"), L"");
    EXPECT_EQ(ListSize(), 3u);

    EXPECT_EQ(WindowsFirewallAppIsEnabled(&fw, nEnabled, fresh), 0);
    EXPECT_EQ(nEnabled, 1);
}

TEST_F(FirewallTest, WithoutTheMachineStoreEntriesGoToTheUsersHive) {
    // Something that is not a folder where the machine hive's folders must go.
    WriteFile(sysroot() + "/var", "blocked");
    platform::DebugCapture cap;
    CWindowsFirewall fw;
    ASSERT_EQ(WindowsFirewallOpenProfile(fw.m_pProfile), 0);
    EXPECT_TRUE(cap.Contains(L"entries go to the user's hive"));
    EXPECT_EQ(WindowsFirewallAuthorizeApp(L"/home/u/app/client", &fw, L"Client"), 0);
    int nEnabled = 0;
    EXPECT_EQ(WindowsFirewallAppIsEnabled(&fw, nEnabled, L"/home/u/app/client"), 0);
    EXPECT_EQ(nEnabled, 1);
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Open(platform::RootCurrentUser, platform::kFirewallListKey, platform::RegAccess::Read, key), 0u);
    platform::RegValue value;
    ASSERT_EQ(key.QueryValue(L"/home/u/app/client", value), 0u);
    EXPECT_EQ(platform::DecodeRegString(value.data), L"/home/u/app/client:*:Enabled:Client");
}

TEST_F(FirewallTest, UnavailableWhenNoStoreCanBeWritten) {
    WriteFile(sysroot() + "/var", "blocked");
    WriteFile(home() + "/.config/orvo", "blocked");
    std::unique_ptr<platform::FirewallProfile> profile;
    EXPECT_FALSE(platform::Succeeded(WindowsFirewallOpenProfile(profile)));
    EXPECT_FALSE(profile);

    CWindowsFirewall closed;
    int nEnabled = -1;
    EXPECT_FALSE(platform::Succeeded(WindowsFirewallAppIsEnabled(&closed, nEnabled, L"/opt/x")));
    EXPECT_EQ(nEnabled, 0);
    EXPECT_FALSE(platform::Succeeded(WindowsFirewallAuthorizeApp(L"/opt/x", &closed, L"X")));
}
#endif
