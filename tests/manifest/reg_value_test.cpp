#include "manifest/RegValue.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/test_env.h"

using namespace UpDater;
using platform::RootCurrentUser;
using platform::RootLocalMachine;

class RegValues : public orvo::test::IsolatedEnvTest {};

TEST_F(RegValues, PathTextsSplitDifferentlyPerValueClass) {
    struct Case {
        bool dword;
        std::wstring text, key, name;
    } cases[] = {
        {false, L"Software\\Vendor\\App\\", L"Software\\Vendor\\App", L""},
        {true, L"Software\\Vendor\\App\\", L"Software\\Vendor", L"App"},
        {true, L"\\\\Software\\Vendor\\Count", L"Software\\Vendor", L"Count"},
        {true, L"Count", L"", L"Count"},
        {false, L"Solo", L"Solo", L"Solo"},
        {true, L"A\\\\B", L"A", L"B"},
    };
    for (const auto& c : cases) {
        if (c.dword) {
            CRegDwordValue v(c.text, 1, false, RootCurrentUser);
            EXPECT_EQ(v.Key(), c.key);
            EXPECT_EQ(v.Name(), c.name);
        } else {
            CRegStringValue v(c.text, L"", false, RootCurrentUser);
            EXPECT_EQ(v.Key(), c.key);
            EXPECT_EQ(v.Name(), c.name);
        }
    }
}

TEST_F(RegValues, RoundTripsCreateKeysAndWriteOnlyOnChange) {
    {
        CRegStringValue text(L"Software\\Vendor\\App\\InstallPath", L"", false, RootLocalMachine);
        EXPECT_FALSE(text.IsRead());
        EXPECT_EQ(text.Read(), L"");
        text = L"/opt/앱";
        EXPECT_TRUE(text.IsRead());
        CRegDwordValue number(L"\\Software\\Vendor\\App\\Count", 78965, false, RootLocalMachine);
        EXPECT_EQ(number.Read(), 78965u);
        number = 3u;
    }
    CRegStringValue text(L"software\\VENDOR\\app\\installpath", L"", false, RootLocalMachine);
    EXPECT_EQ(text.Value(), L"/opt/앱");
    CRegDwordValue number(L"Software\\Vendor\\App\\Count", 78965, false, RootLocalMachine);
    EXPECT_EQ(number.Read(), 3u);

    // Assigning the stored text again does not write: a value removed behind its back stays removed.
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Open(RootLocalMachine, L"Software\\Vendor\\App", platform::RegAccess::Write, key), 0u);
    ASSERT_EQ(key.DeleteValue(L"InstallPath"), 0u);
    text = L"/opt/앱";
    EXPECT_EQ(text.Read(), L"");
    CRegStringValue forced(L"Software\\Vendor\\App\\InstallPath", L"", true, RootLocalMachine);
    forced = L"";
    EXPECT_EQ(text.Read(), L"");
    EXPECT_TRUE(text.IsRead());  // now present, holding the empty text
}

TEST_F(RegValues, OtherValueTypesReadAsTextUpToTheFirstZero) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Create(RootCurrentUser, L"K", key), 0u);
    auto multi = platform::EncodeRegString(L"one");
    auto two = platform::EncodeRegString(L"two");
    multi.insert(multi.end(), two.begin(), two.end());
    ASSERT_EQ(key.SetValue(L"Multi", platform::REG_MULTI_SZ_, multi), 0u);
    ASSERT_EQ(key.SetValue(L"Expand", platform::REG_EXPAND_SZ_, platform::EncodeRegString(L"%HOME%\\x")), 0u);
    EXPECT_EQ(CRegStringValue(L"K\\Multi", L"", false, RootCurrentUser).Value(), L"one");
    EXPECT_EQ(CRegStringValue(L"K\\Expand", L"", false, RootCurrentUser).Value(), L"%HOME%\\x");
    // A number that equals the planning's default cannot be told from a missing one.
    CRegDwordValue stored(L"K\\N", 0, false, RootCurrentUser);
    stored = 78965u;
    EXPECT_EQ(CRegDwordValue(L"K\\N", 78965, false, RootCurrentUser).Read(),
              CRegDwordValue(L"K\\Missing", 78965, false, RootCurrentUser).Read());
}

// A DWORD entry whose stored data is not a REG_DWORD of four bytes is missing to the planning
// and written over as the number, even a number 0 (which a missing value would not get).
TEST_F(RegValues, ANumberStoredAsAnythingElseCountsAsMissingAndIsRewritten) {
    struct Case {
        const char* what;
        uint32_t type;
        std::vector<std::byte> data;
    };
    const auto bytes = [](std::initializer_list<int> b) {
        std::vector<std::byte> out;
        for (int x : b) out.push_back(static_cast<std::byte>(x));
        return out;
    };
    const Case cases[] = {
        {"text", platform::REG_SZ_, platform::EncodeRegString(L"7")},
        {"eight bytes", platform::REG_DWORD_, bytes({7, 0, 0, 0, 1, 0, 0, 0})},
        {"binary of four bytes", platform::REG_BINARY_, bytes({7, 0, 0, 0})},
        {"two bytes", platform::REG_DWORD_, bytes({7, 0})},
    };
    for (const auto& c : cases) {
        for (uint32_t wanted : {0u, 7u}) {
            SCOPED_TRACE(std::string(c.what) + ", writing " + std::to_string(wanted));
            platform::RegKey key;
            ASSERT_EQ(platform::RegKey::Create(RootCurrentUser, L"K", key), 0u);
            ASSERT_EQ(key.SetValue(L"N", c.type, c.data), 0u);
            CRegDwordValue probe(L"K\\N", 78965, false, RootCurrentUser);
            EXPECT_FALSE(probe.IsRead());
            EXPECT_EQ(probe.Read(), 78965u);

            CRegDwordValue value(L"K\\N", 78965, false, RootCurrentUser);
            value = wanted;
            platform::RegValue stored;
            ASSERT_EQ(key.QueryValue(L"N", stored), 0u);
            EXPECT_EQ(stored.type, platform::REG_DWORD_);
            EXPECT_EQ(stored.data, platform::EncodeRegDword(wanted));
        }
    }
}
