#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <array>
#include <functional>
#include <span>
#include <vector>

#include "platform/folders.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "trust/Minisign.h"
#include "trust/TrustedKeys.h"

using namespace orvo::test;
using namespace trust;

namespace {

crypto::ByteView View(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::vector<uint8_t> Hex(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string ToHex(std::span<const uint8_t> bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) out += {kHex[b >> 4], kHex[b & 15]};
    return out;
}

// Made by the reference tool (minisign -G -W; -S, and -S -l for the legacy form).
constexpr const char* kToolPub = "untrusted comment: minisign public key D96EFE08B4971B43\n"
                                 "RWRDG5e0CP5u2QCH+8E51+UXnQVAgvG+Rr4/Zb1QG67Bu3AIXlJQIDzF\n";
constexpr const char* kToolData = "<UpdateInfo>fixture</UpdateInfo>\n";
constexpr const char* kToolSig =
    "untrusted comment: signature from minisign secret key\n"
    "RURDG5e0CP5u2V0RbJnoqcyT+bGP9iM7peR7ZwuWEHpmuuZN5TGCfoj8JwzA3LBvcFzgmJ3No237siBBLbA3hSjPU5FTb4LNuAY=\n"
    "trusted comment: timestamp:1 file:fx.xml\n"
    "YoVj8Y8P/0eOw65V8FFtUsbMOEbX/5eP5x0R2RCWquIOWMw/DPkUXHSPBjCoELbq1KhGtOaQ9AdqwBUvWSG3Bg==\n";
constexpr const char* kToolLegacySig =
    "untrusted comment: signature from minisign secret key\n"
    "RWRDG5e0CP5u2Qc+9oV0ClJQyom41ropWBp8Bx2Zc8m/w0SQLTCNJJ2fFus3L7MosRpoX1Onio9xaxS4WU9bh02m41CjboJAuAk=\n"
    "trusted comment: legacy\n"
    "IsxB/8fB5U/3n6KldsiUu7SC/ijNPP5f3WJl9IK1N/JXM5aXEAitQsWvLa7+HVZXpY5Af+GbbRuQt8cunq6fDg==\n";

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
#ifdef _WIN32
    // The tool runs on the Linux side only: its files are fixtures below, and its signatures
    // reach the Windows updater in the Wine end-to-end runs.
    GTEST_SKIP() << "the reference tool is not run under Wine";
#endif
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

// Every backend gives the same answers: known digests, the first Ed25519 test vector of the
// RFC (signed and checked), and the forms a lax verifier would accept.
TEST_F(Minisign, BackendsAgreeOnKnownVectors) {
    std::array<uint8_t, 64> b512{};
    std::array<uint8_t, 32> b256{};
    ASSERT_TRUE(crypto::Blake2b(View("abc"), b512));
    ASSERT_TRUE(crypto::Blake2b(View("abc"), b256));
    EXPECT_EQ(ToHex(b512), "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d17d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
    EXPECT_EQ(ToHex(b256), "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
    crypto::Sha256 sha;
    sha.Update(View("a"));
    sha.Update(View("bc"));
    EXPECT_EQ(sha.FinalHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const auto seed = Hex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const auto pub = Hex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const std::string rfcSig =
        "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b";
    std::vector<uint8_t> secret = seed;
    secret.insert(secret.end(), pub.begin(), pub.end());
    std::array<uint8_t, crypto::kSignatureBytes> made{};
    ASSERT_TRUE(crypto::Ed25519Sign({}, secret, made));
    EXPECT_EQ(ToHex(made), rfcSig);
    EXPECT_TRUE(crypto::Ed25519Verify(Hex(rfcSig), {}, pub));

    auto flipped = Hex(rfcSig);
    flipped[10] ^= 0x01;
    // S + L: the same scalar modulo the group order, not in its one canonical form.
    auto unreduced = Hex(rfcSig);
    const auto order = Hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    for (int i = 0, carry = 0; i < 32; ++i) {
        const int sum = unreduced[32 + i] + order[i] + carry;
        unreduced[32 + i] = static_cast<uint8_t>(sum);
        carry = sum >> 8;
    }
    // The neutral point as key with R neutral and S zero matches any message under the bare
    // equation.
    std::vector<uint8_t> neutral(32, 0);
    neutral[0] = 1;
    std::vector<uint8_t> neutralSig = neutral;
    neutralSig.resize(64, 0);
    const struct {
        const char* what;
        std::vector<uint8_t> sig, key;
        std::string message;
    } refused[] = {
        {"one bit of R flipped", flipped, pub, ""},
        {"other message", Hex(rfcSig), pub, "x"},
        {"S not reduced", unreduced, pub, ""},
        {"neutral key and signature", neutralSig, neutral, "any manifest"},
        {"short signature", Hex(rfcSig.substr(0, 126)), pub, ""},
    };
    for (const auto& c : refused) EXPECT_FALSE(crypto::Ed25519Verify(c.sig, View(c.message), c.key)) << c.what;

    // Base64 has one text per value.
    EXPECT_EQ(crypto::Base64Encode(View("ABCD")), "QUJDRA==");
    ASSERT_TRUE(crypto::Base64Decode("QUJDRA=="));
    EXPECT_EQ(*crypto::Base64Decode("QUJDRA=="), std::vector<uint8_t>({'A', 'B', 'C', 'D'}));
    for (const char* bad : {"QUJDRA", "QUJDRB==", "QUJ DRA=", "QUJDRA=\n", "Q===", "QU=J"})
        EXPECT_FALSE(crypto::Base64Decode(bad)) << bad;
}

TEST_F(Minisign, ToolFixturesVerifyInBothForms) {
    std::string why;
    const auto key = ParsePublicKey(kToolPub, &why);
    ASSERT_TRUE(key) << why;
    TrustedKeys keys;
    keys.keys.push_back(*key);
    for (const char* sig : {kToolSig, kToolLegacySig}) {
        std::wstring wwhy;
        EXPECT_TRUE(VerifyWithTrustedKeys(View(kToolData), sig, keys, &wwhy)) << sig;
        EXPECT_FALSE(VerifyWithTrustedKeys(View(std::string(kToolData) + " "), sig, keys, &wwhy)) << sig;
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

#ifndef _WIN32
// Whatever has the key file's name means keys were meant to be trusted: a link that leads
// nowhere or in a circle, or a folder, refuses every manifest instead of turning trust off.
TEST(TrustedKeysFile, AnythingAtTheKeyFileNameThatIsNoKeyFileRefusesEverything) {
    TempDir dir;
    const std::string path = dir / "trusted-keys.pub";
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"dangling link", [&] { ASSERT_EQ(::symlink("no-such-file", path.c_str()), 0); }},
        {"looping link", [&] { ASSERT_EQ(::symlink("trusted-keys.pub", path.c_str()), 0); }},
        {"folder", [&] { MakeDirs(path); }},
    };
    for (const auto& c : cases) {
        orvo::test::Run("rm -rf '" + path + "'");
        c.make();
        const TrustedKeys keys = LoadTrustedKeys(dir.wpath());
        EXPECT_TRUE(keys.Required()) << c.what;
        EXPECT_NE(keys.problem.find(L"cannot be read"), std::wstring::npos) << c.what;
        std::wstring why;
        EXPECT_FALSE(VerifyWithTrustedKeys(View("x"), "", keys, &why)) << c.what;
    }
}
#endif

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
