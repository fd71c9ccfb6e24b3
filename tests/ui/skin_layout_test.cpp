// The native skin's layout reader: the default skin, a skin folder on disk, and the faults a
// vendor's skin can have, each refused with a sentence that names it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "ui/SkinLayoutReader.h"

namespace OrvoUi {
namespace {

using Files = std::map<std::wstring, std::vector<uint8_t>>;

// The header of a PNG of the given size (the reader looks at nothing more).
std::vector<uint8_t> Png(uint32_t w, uint32_t h) {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
    b.insert(b.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
    return b;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

const std::string kBody =
    R"(<Label name="Install" x="10" y="10" width="100" height="16"/>
  <Bar name="Install" x="10" y="30" width="100" height="10" track="#dde4ee" fill="fill.png" border="2"/>
  <Label name="States" x="10" y="50" width="100" height="16"/>
  <Bar name="States" x="10" y="70" width="100" height="10" radius="5" track="#dde4ee80" fill="#1e9e57"/>
  <CloseButton x="170" y="0" normal="close.png"/>)";

Files Skin(const std::string& body = kBody) {
    return {{L"skin.xml", Bytes("<Skin width=\"200\" height=\"100\" background=\"bg.png\">" + body + "</Skin>")},
            {L"bg.png", Png(200, 100)},
            {L"fill.png", Png(8, 10)},
            {L"close.png", Png(30, 30)}};
}

std::optional<platform::SkinLayout> Read(const Files& files, std::wstring* why) {
    const SkinFileSource source = [&](const std::wstring& name, uint64_t max, std::wstring* w) -> std::optional<std::vector<uint8_t>> {
        auto it = files.find(name);
        if (it == files.end()) return std::nullopt;
        if (it->second.size() > max) {
            *w = name + L" is too large";
            return std::nullopt;
        }
        return it->second;
    };
    return ReadSkinLayout(source, L"skin.xml", why);
}

TEST(SkinLayout, TheDefaultSkinReadsAndHasEverything) {
    const auto layout = DefaultSkinLayout();
    EXPECT_EQ(layout.nWidth, 448);
    EXPECT_EQ(layout.nHeight, 198);
    ASSERT_GE(layout.nBackground, 0);
    EXPECT_FALSE(layout.images[layout.nBackground].png2x.empty()) << "sharp on scaled screens";
    EXPECT_TRUE(layout.install.bPresent && layout.states.bPresent && layout.close.bPresent && layout.percent.bPresent);
    EXPECT_EQ(layout.title.strText, L"Update");
    ASSERT_EQ(layout.texts.size(), 1u);
    EXPECT_TRUE(layout.texts[0].bPresent) << "the badge's glyph is drawn";
    EXPECT_EQ(layout.close.strCommand, L"btnClose");
    // The folder the package is made from reads the same.
    std::wstring why;
    const auto folder = ReadSkinFolder(platform::FromUtf8(std::string(ORVO_SOURCE_DIR) + "/skins/default"), L"skin.xml", &why);
    ASSERT_TRUE(folder) << platform::ToUtf8(why);
    EXPECT_EQ(folder->images.size(), layout.images.size());
}

TEST(SkinLayout, AGoodSkinIsReadWithItsColoursImagesAndDefaults) {
    std::wstring why;
    auto files = Skin();
    files[L"close@2x.png"] = Png(60, 60);
    const auto layout = Read(files, &why);
    ASSERT_TRUE(layout) << platform::ToUtf8(why);
    EXPECT_EQ(layout->install.fill.nImage, 1);
    EXPECT_EQ(layout->install.fill.nBorder, 2);
    EXPECT_EQ(layout->states.track.color.a, 0x80);
    EXPECT_EQ(layout->states.fill.nRadius, 5);
    EXPECT_EQ(layout->close.rect.nWidth, 30);  // from the image
    EXPECT_EQ(layout->images[layout->close.nNormal].png2x.size(), Png(60, 60).size());
    EXPECT_TRUE(layout->installLabel.bEllipsis);
    EXPECT_FALSE(layout->title.bPresent);
}

TEST(SkinLayout, BadSkinsAreRefusedNamingTheFault) {
    struct Case {
        const char* what;
        std::function<void(Files&)> spoil;
        const wchar_t* expected;  // part of the sentence
    };
    const auto body = [](std::string from, std::string to) {
        return [from, to](Files& f) {
            std::string s(f[L"skin.xml"].begin(), f[L"skin.xml"].end());
            s.replace(s.find(from), from.size(), to);
            f[L"skin.xml"] = Bytes(s);
        };
    };
    const Case cases[] = {
        {"no layout", [](Files& f) { f.erase(L"skin.xml"); }, L"skin.xml is not in the skin"},
        {"malformed layout", [](Files& f) { f[L"skin.xml"] = Bytes("<Skin width=\"200\""); }, L"not well-formed"},
        {"not UTF-8", [](Files& f) { f[L"skin.xml"] = Bytes("<Skin>\xff</Skin>"); }, L"not UTF-8"},
        {"other root", [](Files& f) { f[L"skin.xml"] = Bytes("<html/>"); }, L"<Skin>"},
        {"missing image", [](Files& f) { f.erase(L"close.png"); }, L"close.png is not in the skin"},
        {"not a PNG", [](Files& f) { f[L"fill.png"] = Bytes("GIF89a......................................"); }, L"fill.png is not a PNG"},
        {"image too large", [](Files& f) { f[L"fill.png"] = Png(4097, 10); }, L"fill.png is 4097 x 10"},
        {"2x of the wrong size", [](Files& f) { f[L"close@2x.png"] = Png(61, 60); }, L"not twice"},
        {"background not the window's size", [](Files& f) { f[L"bg.png"] = Png(201, 100); }, L"the background bg.png is 201 x 100"},
        {"bar outside the window", body("x=\"10\" y=\"30\" width=\"100\"", "x=\"150\" y=\"30\" width=\"100\""), L"outside the window"},
        {"button outside the window", body("x=\"170\" y=\"0\"", "x=\"171\" y=\"0\""), L"outside the window"},
        {"image outside the folder", body("fill.png", "../fill.png"), L"is not the name of a .png file"},
        {"missing bar", body("<Bar name=\"States\"", "<Bar name=\"Install\""), L"given twice"},
        {"missing close button", body("<CloseButton", "<Percent"), L"unknown attribute normal"},
        {"unknown element", body("<CloseButton", "<Button"), L"unknown element <Button>"},
        {"misspelt attribute", body("radius=", "raduis="), L"unknown attribute raduis"},
        {"bad colour", body("#1e9e57", "#1e9e5z"), L"fill=\"#1e9e5z\" is not a colour"},
        {"neither colour nor image", body("#1e9e57", "green"), L"is neither a colour"},
        {"bad number", body("height=\"16\"", "height=\"-16\""), L"height=\"-16\""},
        {"label with text", body("height=\"16\"/>", "height=\"16\">x</Label>"), L"must be empty"},
        {"border too wide", body("border=\"2\"", "border=\"5\""), L"leaves nothing"},
        {"skin too large", [](Files& f) { f[L"fill.png"].resize(SkinLimits::kMaxSkinBytes, 0); }, L"fill.png is too large"},
    };
    for (const Case& c : cases) {
        Files files = Skin();
        c.spoil(files);
        std::wstring why;
        EXPECT_FALSE(Read(files, &why)) << c.what;
        EXPECT_NE(why.find(c.expected), std::wstring::npos) << c.what << ": " << platform::ToUtf8(why);
    }
}

TEST(SkinLayout, AFolderSkinReadsOnlyPlainNamesInsideIt) {
    orvo::test::TempDir dir;
    const std::string root = dir.path();
    for (const auto& [name, bytes] : Skin()) orvo::test::WriteFile(root + "/" + platform::ToUtf8(name), std::string(bytes.begin(), bytes.end()));
    std::wstring why;
    EXPECT_TRUE(ReadSkinFolder(platform::FromUtf8(root), L"skin.xml", &why)) << platform::ToUtf8(why);
    std::filesystem::create_directory(root + "/close.png.d");
    std::filesystem::rename(root + "/close.png", root + "/gone.png");
    EXPECT_FALSE(ReadSkinFolder(platform::FromUtf8(root), L"skin.xml", &why));
    EXPECT_NE(why.find(L"close.png is not in the skin"), std::wstring::npos) << platform::ToUtf8(why);
}

TEST(SkinLayout, PngSizesAndBarLengths) {
    int w = 0, h = 0;
    EXPECT_TRUE(ReadPngSize(Png(448, 198), &w, &h));
    EXPECT_EQ(w, 448);
    EXPECT_EQ(h, 198);
    EXPECT_FALSE(ReadPngSize(Png(0, 5), &w, &h));
    auto truncated = Png(1, 1);
    truncated.resize(20);
    EXPECT_FALSE(ReadPngSize(truncated, &w, &h));

    struct {
        int width, value, max, filled;
    } const bars[] = {{396, 0, 4, 0}, {396, 1, 4, 99}, {396, 4, 4, 396}, {396, 9, 4, 396}, {396, -1, 4, 0},
                      {396, 1, 0, 0}, {396, 1, 3, 132}, {100, 1, 200, 1}, {100, 1, 201, 0}};
    for (const auto& b : bars) EXPECT_EQ(platform::FilledLength(b.width, b.value, b.max), b.filled) << b.value << "/" << b.max;

    platform::SkinState state;
    EXPECT_TRUE(state.Apply(L"SetInstallProgressMaxValue", {L"4"}));
    EXPECT_TRUE(state.Apply(L"SetInstallProgressValue", {L"3", L"4"}));
    EXPECT_TRUE(state.Apply(L"SetStatesLabelText", {L"파일 <R&D>"}));
    EXPECT_FALSE(state.Apply(L"SetSomethingElse", {}));
    EXPECT_EQ(platform::PercentText(state.install), L"75%");
    EXPECT_EQ(state.states.strLabel, L"파일 <R&D>");
    state.Apply(L"SetInstallProgressMaxValue", {L"10"});
    EXPECT_EQ(state.install.nValue, 0) << "a new maximum starts the bar again";
}

}  // namespace
}  // namespace OrvoUi
