#include <gtest/gtest.h>

#include "platform/folders.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "trust/Minisign.h"
#include "trust/TrustedKeys.h"

using namespace orvo::test;
using namespace trust;

namespace {

crypto::ByteView View(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace

class Minisign : public IsolatedEnvTest {
protected:
    void SetUp() override {
        if (!crypto::Available()) GTEST_SKIP() << "built without cryptography";
    }
    // A key pair made by the reference tool; returns the file base name.
    std::string ToolKey(const std::string& name) {
        const std::string base = m_root / name;
        EXPECT_EQ(orvo::test::Run("minisign -G -W -p '" + base + ".pub' -s '" + base + ".key' </dev/null >/dev/null 2>&1"), 0);
        return base;
    }
};

TEST_F(Minisign, OurSignaturesVerifyWithTheToolAndTheToolsWithUs) {
    const auto pair = GenerateKeyPair();
    ASSERT_TRUE(pair);
    const std::string data = "<UpdateInfo>\xEA\xB0\x80</UpdateInfo>\n";
    WriteFile(m_root / "m.xml", data);
    WriteFile(m_root / "our.pub", FormatPublicKeyFile(pair->first));
    // Our secret key file reads back as the same key.
    std::string why;
    const auto sec = ParseSecretKeyFile(FormatSecretKeyFile(pair->second), &why);
    ASSERT_TRUE(sec) << why;
    EXPECT_EQ(sec->key, pair->second.key);
    const auto sig = Sign(View(data), *sec, "timestamp:0\tfile:m.xml\thashed");
    ASSERT_TRUE(sig);
    WriteFile(m_root / "m.xml.minisig", FormatSignatureFile(*sig));
    EXPECT_EQ(orvo::test::Run("minisign -V -q -p '" + (m_root / "our.pub") + "' -m '" + (m_root / "m.xml") + "'"), 0);

    // The tool's key files and both of its signature forms.
    const std::string tool = ToolKey("tool");
    const auto toolPub = ParsePublicKey(ReadFile(tool + ".pub"), &why);
    ASSERT_TRUE(toolPub) << why;
    ASSERT_TRUE(ParseSecretKeyFile(ReadFile(tool + ".key"), &why)) << why;
    for (const std::string legacy : {"", "-l"}) {
        ASSERT_EQ(orvo::test::Run("minisign -S " + legacy + " -W -s '" + tool + ".key' -m '" + (m_root / "m.xml") + "' -x '" +
                      (m_root / "t.sig") + "' </dev/null >/dev/null 2>&1"),
                  0);
        const auto toolSig = ParseSignatureFile(ReadFile(m_root / "t.sig"), &why);
        ASSERT_TRUE(toolSig) << why;
        EXPECT_EQ(toolSig->prehashed, legacy.empty());
        EXPECT_TRUE(Verify(View(data), *toolSig, *toolPub, &why)) << legacy << why;
    }
}

TEST_F(Minisign, TamperedOrForeignSignaturesAreRefusedWithTheReason) {
    const auto pair = GenerateKeyPair();
    const auto other = GenerateKeyPair();
    ASSERT_TRUE(pair && other);
    TrustedKeys keys;
    AddKeysFromText(FormatPublicKeyFile(pair->first), L"keys", keys);
    ASSERT_EQ(keys.keys.size(), 1u);
    const std::string data = "manifest bytes";
    const std::string good = FormatSignatureFile(*Sign(View(data), pair->second, "timestamp:1"));
    std::wstring why;
    ASSERT_TRUE(VerifyWithTrustedKeys(View(data), good, keys, &why)) << why;

    std::string commentChanged = good;
    commentChanged.replace(commentChanged.find("timestamp:1"), 11, "timestamp:2");
    const struct {
        const char* what;
        std::string data, sig;
        const wchar_t* reason;
    } cases[] = {
        {"data changed", "manifest bytez", good, L"does not match the data"},
        {"trusted comment changed", data, commentChanged, L"trusted comment does not match"},
        {"other key", data, FormatSignatureFile(*Sign(View(data), other->second, "x")), L"which is not trusted"},
        {"not a signature", data, "hello\n", L"bad signature file"},
        {"empty", data, "", L"bad signature file"},
        {"truncated", data, good.substr(0, good.size() / 2), L"bad signature file"},
    };
    for (const auto& c : cases) {
        why.clear();
        EXPECT_FALSE(VerifyWithTrustedKeys(View(c.data), c.sig, keys, &why)) << c.what;
        EXPECT_NE(why.find(c.reason), std::wstring::npos) << c.what << ": " << std::string(why.begin(), why.end());
    }
}

TEST_F(Minisign, KeyFilesHoldSeveralKeysAndABadLineRefusesThemAll) {
    const auto a = GenerateKeyPair(), b = GenerateKeyPair();
    ASSERT_TRUE(a && b);
    const std::string dir = m_root / "exe";
    MakeDirs(dir);
    const std::wstring wdir(dir.begin(), dir.end());
    EXPECT_FALSE(LoadTrustedKeys(wdir).Required());  // no file: nothing required, as before

    WriteFile(dir + "/trusted-keys.pub", "# vendor keys\n" + FormatPublicKeyFile(a->first) + "\n" + PublicKeyLine(b->first) + "\n");
    auto keys = LoadTrustedKeys(wdir);
    EXPECT_EQ(keys.keys.size(), 2u);
    EXPECT_TRUE(keys.problem.empty());

    for (const std::string& bad : std::vector<std::string>{"", "\n# nothing\n", PublicKeyLine(a->first) + "\nnot base64!\n",
                                  PublicKeyLine(a->first).substr(4) + "\n"}) {
        WriteFile(dir + "/trusted-keys.pub", bad);
        keys = LoadTrustedKeys(wdir);
        EXPECT_TRUE(keys.Required()) << bad;
        EXPECT_FALSE(keys.problem.empty()) << bad;
        std::wstring why;
        EXPECT_FALSE(VerifyWithTrustedKeys(View("x"), "", keys, &why)) << bad;
    }
}

// Runs in every build: one without cryptography must refuse a trusted key it cannot check,
// never ignore it.
TEST(TrustedKeysFile, AKeyTheBuildCannotCheckRefusesEverything) {
    TempDir dir;
    const std::string key = "RWTmjOOzlzFwQdogsQ2aZ2/W0k9D0/hU9fNsWm4uyYCmZBJCZ02Xx25c";  // a minisign public key
    WriteFile(dir / "trusted-keys.pub", "untrusted comment: minisign public key 41703197B3E38CE6\n" + key + "\n");
    const TrustedKeys keys = LoadTrustedKeys(dir.wpath());
    EXPECT_TRUE(keys.Required());
    if (crypto::Available()) {
        ASSERT_EQ(keys.keys.size(), 1u);
        EXPECT_EQ(KeyIdText(keys.keys[0].id), "41703197B3E38CE6");
        EXPECT_EQ(PublicKeyLine(keys.keys[0]), key);
    } else {
        EXPECT_NE(keys.problem.find(L"cannot check signatures"), std::wstring::npos);
        std::wstring why;
        EXPECT_FALSE(VerifyWithTrustedKeys(View("x"), "", keys, &why));
    }
}

// A shared installation also trusts each vendor's file in the machine's key folder; a copy in a
// vendor's folder reads only the file beside it. Runs in every build: keys are read, not used.
class MachineKeys : public IsolatedEnvTest {};

TEST_F(MachineKeys, ASharedInstallationTakesTheMachinesKeyFiles) {
    const std::string keyA = "RWTmjOOzlzFwQdogsQ2aZ2/W0k9D0/hU9fNsWm4uyYCmZBJCZ02Xx25c";  // 41703197B3E38CE6
    const std::string keyB = "RWQBAgMEBQYHCAABAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4f";  // 0807060504030201
    const auto machine = platform::GetMachineKeysFolder();
    ASSERT_TRUE(machine);
    const std::string folder = platform::ToUtf8(*machine);
    MakeDirs(folder);
    WriteFile(folder + "/vendor-a.pub", "untrusted comment: minisign public key 41703197B3E38CE6\n" + keyA + "\n");
    WriteFile(folder + "/notes.txt", "not a key file");
    MakeDirs(m_root / "vendor");
    const std::wstring vendor = platform::FromUtf8(m_root / "vendor");
    const std::wstring shared = SharedInstallFolder(sysroot());
    auto ids = [](const TrustedKeys& keys) {
        std::string out;
        for (const auto& k : keys.keys) out += KeyIdText(k.id) + " ";
        return out;
    };
    struct RemoveFolder {
        std::string folder;
        ~RemoveFolder() {
#ifdef _WIN32
            orvo::test::Run("rmdir /s /q \"" + folder + "\"");
#else
            orvo::test::Run("rm -rf '" + folder + "'");
#endif
        }
    } removeFolder{folder};
    EXPECT_FALSE(LoadTrustedKeys(vendor).Required());
    const TrustedKeys fromMachine = LoadTrustedKeys(shared);
    EXPECT_TRUE(fromMachine.Required());
    if (!crypto::Available()) {
        // A build that cannot check signatures refuses everything, naming the machine's file.
        EXPECT_NE(platform::ToUtf8(fromMachine.problem).find("vendor-a.pub"), std::string::npos)
            << platform::ToUtf8(fromMachine.problem);
        return;
    }
    EXPECT_EQ(ids(fromMachine), "41703197B3E38CE6 ");

    // A second vendor's file adds its key; one that holds no key refuses everything.
    WriteFile(folder + "/vendor-b.pub", keyB + "\n");
    EXPECT_EQ(LoadTrustedKeys(shared).keys.size(), 2u);
    WriteFile(folder + "/vendor-c.pub", "# nothing yet\n");
    const TrustedKeys broken = LoadTrustedKeys(shared);
    EXPECT_NE(platform::ToUtf8(broken.problem).find("vendor-c.pub: no key in the file"), std::string::npos)
        << platform::ToUtf8(broken.problem);
    EXPECT_TRUE(LoadTrustedKeys(vendor).problem.empty());
#ifndef _WIN32
    // A key folder other users may add files to trusts nothing.
    orvo::test::Run("rm '" + folder + "/vendor-c.pub' && chmod 0777 '" + folder + "'");
    EXPECT_NE(platform::ToUtf8(LoadTrustedKeys(shared).problem).find("may be changed by other users"), std::string::npos);
#endif
}
