// The publisher run as vendors run it: its executable on a build folder made here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "manifest/ManifestXml.h"
#include "manifest/VersionBuilder.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "trust/Crypto.h"

using namespace orvo::test;

namespace {

const char* kConfig = R"([release]
base_url = "https://updates.example.com/app/"
expires = "2099-01-01T00:00:00Z"

[install]
root = "HLM"
key = 'Software\Vendor\App'
folder = '_PROGRAMFILES\Vendor\App'

[folders]
bin = '_INSTALL\bin'
"bin/plugins" = '_SYS32'

[components]
register = [".SO"]

[[registry]]
root = "HCU"
path = 'Software\Vendor\App\Port'
value = "8080"
type = "DWORD"

[[shortcut]]
source = '_INSTALL\bin\app.sh'
dest = '_DESKTOP\App.desktop'
description = "Caf\u00e9 & more"

[[firewall]]
folder = '_INSTALL\bin'
file = "app.sh"
name = "App"
)";

}  // namespace

class Publish : public IsolatedEnvTest {
protected:
    Publish() {
        build = m_root / "build";
        MakeDirs(build + "/bin/plugins");
        WriteFile(build + "/bin/app.sh", "#!/bin/sh\necho app\n");
        ::chmod((build + "/bin/app.sh").c_str(), 0755);
        WriteFile(build + "/bin/plugins/x.so", std::string(5000, 'x'));
        WriteFile(build + "/readme.txt", "read me\n");
        std::string noise(70000, '\0');
        uint32_t s = 7;
        for (auto& c : noise) c = static_cast<char>((s = s * 1103515245 + 12345) >> 16);
        WriteFile(build + "/noise.bin", noise);
        WriteFile(m_root / "release.toml", kConfig);
        EXPECT_EQ(Tool("keygen --out '" + (m_root / "key") + "'"), 0);
    }
    int Tool(const std::string& args, std::string* out = nullptr) {
        return orvo::test::Run(BuiltBinary("tools/orvo-publish/orvo-publish") + " " + args + " 2>&1", out);
    }
    int Build(const std::string& out, const std::string& extra = "", std::string* log = nullptr) {
        return Tool("build --config '" + (m_root / "release.toml") + "' --from '" + build + "' --out '" + out + "' " + extra, log);
    }
    std::string build;
};

TEST_F(Publish, ReleaseIsReproducibleSignedAndReadByTheUpdater) {
    std::string log;
    ASSERT_EQ(Build(m_root / "r1", "--first-release --key '" + (m_root / "key.key") + "'", &log), 0) << log;
    ASSERT_EQ(Build(m_root / "r2", "--first-release --key '" + (m_root / "key.key") + "'", &log), 0) << log;
    EXPECT_EQ(orvo::test::Run("diff -r '" + (m_root / "r1") + "' '" + (m_root / "r2") + "'"), 0);  // byte for byte
    EXPECT_EQ(orvo::test::Run("minisign -V -q -p '" + (m_root / "key.pub") + "' -m '" + (m_root / "r1/app.xml") + "' -x '" +
                              (m_root / "r1/app.xml.sig") + "'"),
              0);

    UpDater::CVersionBuilder builder;
    builder.m_strInstallPath = L"/inst";
    UpDater::UpdateList files;
    UpDater::RegistList reg;
    UpDater::ShortcutList links;
    UpDater::FirewallList fw;
    ASSERT_TRUE(builder.ParseXml(platform::FromUtf8(m_root / "r1/app.xml"), files, reg, links, fw));
    ASSERT_EQ(files.size(), 4u);  // sorted by path: bin/app.sh, bin/plugins/x.so, noise.bin, readme.txt
    EXPECT_EQ(files[0].Folder, L"/inst/bin");  // resolved paths use the native separator
    EXPECT_EQ(files[0].OriFileName, L"app.sh");
    EXPECT_EQ(files[1].RegCom, 1u);
    EXPECT_EQ(files[2].RegCom, 0u);
    EXPECT_EQ(files[3].FileSize, 8);
    std::string sum;
    orvo::test::Run("sha256sum '" + build + "/readme.txt' | cut -c1-64", &sum);
    EXPECT_EQ(platform::ToUtf8(files[3].Sha256) + "\n", sum);
    EXPECT_EQ(files[3].FileHash, files[3].Sha256);
    for (const auto& f : files) {
        const std::string url = platform::ToUtf8(f.DownloadUrl);
        ASSERT_EQ(url.rfind("https://updates.example.com/app/pkg/", 0), 0u) << url;
        // pkg/<content address>/<the file's own name>.zip: the progress names the file.
        EXPECT_EQ(url.substr(url.rfind('/') + 1), platform::ToUtf8(f.OriFileName) + ".zip") << url;
        struct stat st {};
        ASSERT_EQ(::stat((m_root / ("r1/" + url.substr(32))).c_str(), &st), 0) << url;
        EXPECT_EQ(st.st_size, f.PackageSize) << url;
    }
    ASSERT_EQ(reg.size(), 2u);
    EXPECT_EQ(reg[0].Path, L"Software\\Vendor\\App\\INSTALL SZ");
    EXPECT_EQ(reg[1].ValueType, UpDater::kRegTypeDword);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].Des, L"Caf\u00e9 & more");
    ASSERT_EQ(fw.size(), 1u);

    // The packages hold the mode (the program stays runnable) and are stored when deflate
    // cannot shrink them.
    std::string listing;
    orvo::test::Run("for z in '" + (m_root / "r1/pkg") + "'/*/*.zip; do unzip -Zl \"$z\" | sed -n 3p; done", &listing);
    EXPECT_NE(listing.find("-rwxr-xr-x  6.3 unx       19 b- "), std::string::npos) << listing;
    EXPECT_NE(listing.find("70000 b-    70000 stor"), std::string::npos) << listing;
    EXPECT_NE(listing.find("defN"), std::string::npos) << listing;
}

// Clients download a release's packages into one folder by their names: names two files share
// (in any letter case) take the file's path instead, and a name is one encoded address segment.
TEST_F(Publish, PackageNamesAreTheFilesOwnAndDistinct) {
    MakeDirs(build + "/doc");
    WriteFile(build + "/doc/README.TXT", "other read me\n");
    WriteFile(build + "/bin/my notes#1.txt", "notes\n");
    std::string log;
    ASSERT_EQ(Build(m_root / "r1", "--first-release --key '" + (m_root / "key.key") + "'", &log), 0) << log;
    std::string xml = ReadFile(m_root / "r1/app.xml");
    for (const char* name : {"/doc_README.TXT.zip<", "/readme.txt.zip<", "/my%20notes%231.txt.zip<", "/app.sh.zip<"})
        EXPECT_NE(xml.find(name), std::string::npos) << name << "\n" << xml;
    std::string files;
    orvo::test::Run("cd '" + (m_root / "r1") + "' && ls pkg/*/ | grep zip | sort", &files);
    EXPECT_EQ(files, "app.sh.zip\ndoc_README.TXT.zip\nmy notes#1.txt.zip\nnoise.bin.zip\nreadme.txt.zip\nx.so.zip\n");
}

TEST_F(Publish, PreviousReleaseGivesWhatClientsDownloadAndTheNextSequence) {
    ASSERT_EQ(Build(m_root / "r1"), 0);
    WriteFile(build + "/readme.txt", "read me, version two\n");
    ::unlink((build + "/noise.bin").c_str());
    std::string log;
    ASSERT_EQ(Build(m_root / "r2", "--previous '" + (m_root / "r1/app.xml") + "' --dry-run", &log), 0) << log;
    EXPECT_NE(log.find("download 1 of 3 files"), std::string::npos) << log;
    EXPECT_NE(log.find("1 files removed"), std::string::npos) << log;
    EXPECT_FALSE(Exists(m_root / "r2"));  // a dry run writes nothing
    ASSERT_EQ(Build(m_root / "r2", "--previous '" + (m_root / "r1/app.xml") + "'", &log), 0) << log;
    EXPECT_NE(ReadFile(m_root / "r2/app.xml").find("<Sequence>2</Sequence>"), std::string::npos);
    // Unchanged files keep their package address.
    std::string same;
    orvo::test::Run("bash -c \"cd '" + m_root.path() + "' && comm -12 <(ls r1/pkg) <(ls r2/pkg) | wc -l\"", &same);
    EXPECT_EQ(same, "2\n");
}

TEST_F(Publish, SkinFolderBecomesOneSkinPackage) {
    WriteFile(m_root / "release.toml", std::string(kConfig) + "\n[skin]\nfolder = \"" + ORVO_SOURCE_DIR + "/skins/default\"\n");
    std::string log;
    ASSERT_EQ(Build(m_root / "r1", "", &log), 0) << log;
    const std::string xml = ReadFile(m_root / "r1/app.xml");
    const size_t at = xml.find("<Skin>");
    ASSERT_NE(at, std::string::npos) << xml;
    const std::string skin = xml.substr(at, xml.find("</Skin>") - at);
    const auto field = [&](const std::string& name) {
        const size_t from = skin.find("<" + name + ">") + name.size() + 2;
        return skin.substr(from, skin.find("</" + name + ">") - from);
    };
    EXPECT_EQ(field("OriFileName"), "skin.xml");
    EXPECT_EQ(field("FileSize"), std::to_string(ReadFile(std::string(ORVO_SOURCE_DIR) + "/skins/default/skin.xml").size()));
    const std::string url = field("DownloadUrl");
    ASSERT_EQ(url.rfind("https://updates.example.com/app/pkg/", 0), 0u) << url;
    const std::string zip = m_root / ("r1/" + url.substr(32));
    // The package's own hash, so that any changed image makes clients fetch the skin again.
    std::string sum, listing;
    orvo::test::Run("sha256sum '" + zip + "' | cut -c1-64", &sum);
    EXPECT_EQ(field("FileHash") + "\n", sum);
    orvo::test::Run("unzip -Z1 '" + zip + "'", &listing);
    EXPECT_EQ(listing, "background.png\nbackground@2x.png\nclose-hover.png\nclose-hover@2x.png\nclose-pressed.png\nclose-pressed@2x.png\n"
                       "close.png\nclose@2x.png\nskin.xml\n");
    ASSERT_EQ(Build(m_root / "r2", "", &log), 0) << log;
    EXPECT_EQ(orvo::test::Run("cmp '" + zip + "' '" + (m_root / ("r2/" + url.substr(32))) + "'"), 0) << "reproducible";
}

TEST_F(Publish, BadInputIsNamedAndLeavesNoRelease) {
    const std::string good = kConfig;
    struct Case {
        const char* what;
        std::string config;
        std::function<void()> prepare;
        std::string expected;
    };
    const Case cases[] = {
        {"misspelt key", good + "\n[skin]\nfiel = \"x\"\n", nullptr, "release.toml:34: unknown key 'fiel' in [skin]"},
        {"not TOML", good + "\n[[registry]\n", nullptr, "release.toml:33: Error while parsing table header"},
        {"bad type", good + "\n[[registry]]\npath = 'A\\B'\nvalue = \"1\"\ntype = \"QWORD\"\n", nullptr,
         "release.toml:36: registry.type must be STRING or DWORD"},
        {"bad expiry", "[release]\nexpires = \"tomorrow\"\n" + good.substr(good.find("[install]")), nullptr,
         "release.toml:2: release.expires must be a UTC date-time"},
        {"no install entry", "[release]\nbase_url = \"http://x\"\n", nullptr, "missing table [install]"},
        {"link in the build folder", good, [&] { ::symlink("/etc/passwd", (build + "/bin/passwd").c_str()); },
         "bin/passwd: a symbolic link"},
        {"missing key", good, nullptr, "nokey.key: no such secret key file"},
        {"skin file and folder", good + "\n[skin]\nfile = \"a.html\"\nfolder = \"s\"\n", nullptr, "either file"},
        {"skin folder the updater would refuse", good + "\n[skin]\nfolder = \"badskin\"\n",
         [&] { WriteFile(m_root / "badskin/skin.xml", "<Skin width=\"10\" height=\"10\" background=\"bg.png\"/>"); },
         "badskin: not a skin the updater can show: skin.xml: <Skin>: bg.png is not in the skin"},
    };
    for (const auto& c : cases) {
        WriteFile(m_root / "release.toml", c.config);
        if (c.prepare) c.prepare();
        std::string log;
        const std::string key = std::string(c.what) == "missing key" ? "--first-release --key '" + (m_root / "nokey.key") + "'" : "";
        EXPECT_EQ(Build(m_root / "out", key, &log), 1) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.expected), std::string::npos) << c.what << "\n" << log;
        std::string left;
        orvo::test::Run("ls -A '" + m_root.path() + "' | grep -c out", &left);
        EXPECT_EQ(left, "0\n") << c.what;  // neither the release nor a half-written folder
        ::unlink((build + "/bin/passwd").c_str());
    }
    WriteFile(m_root / "release.toml", good);
    ASSERT_EQ(Build(m_root / "out"), 0);
    std::string log;
    EXPECT_EQ(Build(m_root / "out", "", &log), 1);
    EXPECT_NE(log.find("out: already exists"), std::string::npos) << log;
}

// The skin's package carries its own hash and size, so that the updater can check it before it
// unpacks anything of it.
TEST_F(Publish, SkinPackageCarriesItsHashAndSize) {
    WriteFile(m_root / "skin/progress.html", "<html>progress</html>");
    WriteFile(m_root / "release.toml", std::string(kConfig) + "\n[skin]\nfile = \"skin/progress.html\"\n");
    std::string log;
    ASSERT_EQ(Build(m_root / "r", "", &log), 0) << log;
    UpDater::CManifestDocument doc;
    ASSERT_TRUE(doc.Load(platform::FromUtf8(m_root / "r/app.xml"), {L"test", 1, 2, 3, 4}));
    const UpDater::XmlNode* pSkin = UpDater::FindChild(doc.Root(), L"Skin");
    ASSERT_NE(pSkin, nullptr);
    const UpDater::SkinItem skin = UpDater::ReadSkinItem(pSkin);
    const std::string url = platform::ToUtf8(skin.DownloadUrl);
    const std::string package = ReadFile(m_root / ("r/" + url.substr(url.find("pkg/"))));
    auto sha = [](const std::string& data) {
        trust::crypto::Sha256 h;
        h.Update({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
        return platform::FromUtf8(h.FinalHex());
    };
    EXPECT_EQ(skin.Sha256, sha(package));
    EXPECT_EQ(skin.PackageSize, static_cast<int64_t>(package.size()));
    EXPECT_EQ(skin.FileHash, sha("<html>progress</html>"));
    EXPECT_EQ(skin.FileSize, 21);
}

// What no updater would accept, or what would not protect it, is refused unless asked for.
TEST_F(Publish, SignedReleasesNeedAGrowingSequenceAndAFutureExpiry) {
    const std::string key = "--key '" + (m_root / "key.key") + "'";
    const std::string pastConfig = "[release]\nbase_url = \"https://x/\"\nexpires = \"2020-01-01T00:00:00Z\"\n" +
                                   std::string(kConfig).substr(std::string(kConfig).find("[install]"));
    ASSERT_EQ(Build(m_root / "r1", "--first-release " + key), 0);
    const std::string previous = "--previous '" + (m_root / "r1/app.xml") + "' ";
    const struct {
        const char* what;
        bool past;
        std::string args;
        const char* refusal;  // nullptr: published
        const char* sequence;
    } cases[] = {
        {"signed without a sequence", false, key, "--first-release for the very first release", nullptr},
        {"unsigned without a sequence", false, "", nullptr, "<Sequence>1</Sequence>"},
        {"signed after the previous release", false, previous + key, nullptr, "<Sequence>2</Sequence>"},
        {"first release that has one before it", false, previous + "--first-release " + key, "--first-release cannot go with", nullptr},
        {"expired", true, previous + key, "2020-01-01T00:00:00Z is already past", nullptr},
        {"expired, asked for", true, previous + "--allow-expired " + key, nullptr, "<Sequence>2</Sequence>"},
    };
    for (const auto& c : cases) {
        WriteFile(m_root / "release.toml", c.past ? pastConfig : std::string(kConfig));
        orvo::test::Run("rm -rf '" + (m_root / "out") + "'");
        std::string log;
        EXPECT_EQ(Build(m_root / "out", c.args, &log), c.refusal ? 1 : 0) << c.what << "\n" << log;
        if (c.refusal) {
            EXPECT_NE(log.find(c.refusal), std::string::npos) << c.what << "\n" << log;
            EXPECT_FALSE(Exists(m_root / "out")) << c.what;
        } else {
            EXPECT_NE(ReadFile(m_root / "out/app.xml").find(c.sequence), std::string::npos) << c.what;
        }
    }

    // A manifest made otherwise is signed only when updaters will take it.
    const std::string xml = ReadFile(m_root / "r1/app.xml");
    const auto withRoot = [&](const std::string& from, const std::string& to) {
        std::string x = xml;
        x.replace(x.find(from), from.size(), to);
        return x;
    };
    const struct {
        const char* what;
        std::string manifest, args;
        const char* refusal;
    } signs[] = {
        {"no sequence", withRoot("<Sequence>1</Sequence>", ""), "", "has no Sequence"},
        {"expired", withRoot("2099-01-01T00:00:00Z", "2020-01-01T00:00:00Z"), "", "expired at 2020-01-01T00:00:00Z"},
        {"expired, asked for", withRoot("2099-01-01T00:00:00Z", "2020-01-01T00:00:00Z"), "--allow-expired ", nullptr},
    };
    for (const auto& c : signs) {
        WriteFile(m_root / "m.xml", c.manifest);
        ::unlink((m_root / "m.xml.sig").c_str());
        std::string log;
        EXPECT_EQ(Tool("sign '" + (m_root / "m.xml") + "' " + c.args + key, &log), c.refusal ? 1 : 0) << c.what << "\n" << log;
        if (c.refusal) {
            EXPECT_NE(log.find(c.refusal), std::string::npos) << c.what << "\n" << log;
        }
        EXPECT_EQ(Exists(m_root / "m.xml.sig"), c.refusal == nullptr) << c.what;
    }
}
