// Reading manifests into records: every default, conversion and lookup rule, and refusal of
// broken or hostile files without an exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "manifest/ManifestXml.h"
#include "manifest_fixture.h"
#include "platform/folders.h"
#include "platform/fs.h"

namespace orvo::test {
namespace {

using UpDater::CVersionBuilder;

std::string Files(const std::string& items) { return Doc(Tag("UpdateData", items)); }
std::string OneFile(const std::string& fields) { return Files("<Item>" + fields + "</Item>"); }
std::string OneReg(const std::string& fields) { return Doc(Tag("RegistData", "<Item>" + fields + "</Item>")); }
std::string OneShortcut(const std::string& fields) { return Doc(Tag("ShortcutData", "<Item>" + fields + "</Item>")); }

std::wstring Num(long long n) { return std::to_wstring(n); }

struct FieldCase {
    const char* what;
    std::string document;
    std::function<std::wstring(const ParsedLists&)> get;
    std::wstring expected;
};

TEST_F(ManifestTest, FieldsFollowTheLookupAndConversionRules) {
    const auto file0 = [](auto get) { return [get](const ParsedLists& l) { return l.files.empty() ? L"<none>" : get(l.files[0]); }; };
    const auto reg0 = [](auto get) { return [get](const ParsedLists& l) { return l.registry.empty() ? L"<none>" : get(l.registry[0]); }; };
    const auto lnk0 = [](auto get) { return [get](const ParsedLists& l) { return l.shortcuts.empty() ? L"<none>" : get(l.shortcuts[0]); }; };
    const auto fileCount = [](const ParsedLists& l) { return Num(l.files.size()); };
    const auto name = file0([](const UpDater::UpdateItem& i) { return i.OriFileName; });
    const auto hash = file0([](const UpDater::UpdateItem& i) { return i.FileHash; });
    const auto folder = file0([](const UpDater::UpdateItem& i) { return i.Folder; });
    const auto size = file0([](const UpDater::UpdateItem& i) { return Num(i.FileSize); });
    const auto regcom = file0([](const UpDater::UpdateItem& i) { return Num(i.RegCom); });
    const auto download = file0([](const UpDater::UpdateItem& i) { return i.DownloadPath; });
    const auto install = file0([](const UpDater::UpdateItem& i) { return i.InstallPath; });
    const auto valueType = reg0([](const UpDater::RegistItem& i) { return Num(i.ValueType); });
    const auto rootKey = reg0([](const UpDater::RegistItem& i) { return Num(i.hRootKey); });
    const auto regValue = reg0([](const UpDater::RegistItem& i) { return i.Value; });
    const auto isUrl = lnk0([](const UpDater::ShortcutItem& i) { return Num(i.IsUrlType); });
    const auto des = lnk0([](const UpDater::ShortcutItem& i) { return i.Des; });
    const auto dest = lnk0([](const UpDater::ShortcutItem& i) { return i.DestFolderPath; });
    // The documents folder as this platform names it (on Linux the fixture's HOME/Documents).
    const std::wstring docs = platform::GetSpecialFolderPath(platform::CSIDL_PERSONAL, true).value_or(L"?");

    const FieldCase cases[] = {
        {"any root name", Doc(Tag("UpdateData", FileXml("a.dll")), "Whatever"), name, L"a.dll"},
        {"section names are case-sensitive", Doc(Tag("updatedata", FileXml("a.dll"))), fileCount, L"0"},
        {"field names are case-sensitive", OneFile(Tag("filehash", "X") + Tag("OriFileName", "a")), hash, L""},
        {"first of two fields wins", OneFile(Tag("Folder", "one") + Tag("Folder", "two")), folder, L"one"},
        {"first of two sections wins", Doc(Tag("UpdateData", FileXml("a")) + Tag("UpdateData", FileXml("b") + FileXml("c"))), fileCount, L"1"},
        {"item element name is not checked", Files("<Anything>" + Tag("OriFileName", "x") + "</Anything>"), name, L"x"},
        {"attributes are never read", Files("<Item OriFileName=\"attr\">" + Tag("OriFileName", "elem") + "</Item>"), name, L"elem"},
        {"stray text in a section is an item with defaults", Files("stray" + FileXml("a.dll")), fileCount, L"2"},
        {"stray text item has default name", Files("stray" + FileXml("a.dll")), name, L""},
        {"blanks around a value are kept", OneFile(Tag("OriFileName", "  a b  ")), name, L"  a b  "},
        {"predefined entities are translated", OneFile(Tag("OriFileName", "a&amp;b&lt;&#x41;&#66;")), name, L"a&b<AB"},
        {"FileSize above 4 GiB keeps 64 bits", OneFile(Tag("FileSize", "5000000000")), size, L"5000000000"},
        {"FileSize leading digits", OneFile(Tag("FileSize", "  12abc")), size, L"12"},
        {"FileSize negative", OneFile(Tag("FileSize", "-3")), size, L"-3"},
        {"FileSize without digits", OneFile(Tag("FileSize", "x1")), size, L"0"},
        {"FileSize overflow clamps", OneFile(Tag("FileSize", "99999999999999999999")), size, L"9223372036854775807"},
        {"FileSize missing", OneFile(Tag("OriFileName", "a")), size, L"0"},
        {"RegCom 2 is set", OneFile(Tag("RegCom", "2")), regcom, L"1"},
        {"RegCom -1 is set", OneFile(Tag("RegCom", "-1")), regcom, L"1"},
        {"RegCom abc is clear", OneFile(Tag("RegCom", "abc")), regcom, L"0"},
        {"DownloadPath keeps a query", OneFile(Tag("DownloadUrl", "http://s/d/update.zip?x=1")), download, L"TEMP" + std::wstring(1, platform::kPathSeparator) + L"update.zip?x=1"},
        {"DownloadPath of an address ending in a slash", OneFile(Tag("DownloadUrl", "http://s/d/")), download, L"TEMP" + std::wstring(1, platform::kPathSeparator)},
        {"DownloadPath splits at backslashes", OneFile(Tag("DownloadUrl", "a\\b\\c.zip")), download, L"TEMP" + std::wstring(1, platform::kPathSeparator) + L"c.zip"},
        {"InstallPath from the resolved folder", OneFile(Tag("OriFileName", "a.dll") + Tag("Folder", "_INSTALL\\bin")), install, platform::NativeSeparators(L"/inst\\bin\\a.dll")},
        {"Folder tokens resolved", OneFile(Tag("Folder", "_DESKTOP\\x")), folder, platform::NativeSeparators(L"/inst\\x")},
        {"ValueType string", OneReg(Tag("ValueType", "string")), valueType, L"1"},
        {"ValueType Dword", OneReg(Tag("ValueType", "Dword")), valueType, L"2"},
        {"ValueType REG_SZ", OneReg(Tag("ValueType", "REG_SZ")), valueType, L"0"},
        {"ValueType missing", OneReg(Tag("Path", "p")), valueType, L"0"},
        {"RootPath hlm", OneReg(Tag("RootPath", "hlm")), rootKey, Num(0x80000002)},
        {"RootPath HKLM falls back", OneReg(Tag("RootPath", "HKLM")), rootKey, Num(0x80000001)},
        {"RootPath HCR", OneReg(Tag("RootPath", "HCR")), rootKey, Num(0x80000000)},
        {"RootPath hu", OneReg(Tag("RootPath", "hu")), rootKey, Num(0x80000003)},
        {"RootPath HCC", OneReg(Tag("RootPath", "HCC")), rootKey, Num(0x80000005)},
        {"RootPath missing", OneReg(Tag("Path", "p")), rootKey, Num(0x80000001)},
        {"registry Value tokens resolved", OneReg(Tag("Value", "_MYDOC\\v")), regValue, platform::NativeSeparators(docs + L"\\v")},
        {"IsUrlType 1", OneShortcut(Tag("IsUrlType", "1")), isUrl, L"1"},
        {"IsUrlType 2", OneShortcut(Tag("IsUrlType", "2")), isUrl, L"0"},
        {"IsUrlType true", OneShortcut(Tag("IsUrlType", "true")), isUrl, L"0"},
        {"IsUrlType empty", OneShortcut(Tag("IsUrlType", "")), isUrl, L"0"},
        {"IsUrlType leading blanks", OneShortcut(Tag("IsUrlType", " 1x")), isUrl, L"1"},
        {"shortcut paths resolved", OneShortcut(Tag("DestFolderPath", "_MYDOC\\a.desktop")), dest, platform::NativeSeparators(docs + L"\\a.desktop")},
        // Characters whose low byte is '<', NUL or a blank must stay text (U+013C, U+AC00, U+0120).
        {"wide text stays whole", OneShortcut(Tag("Des", "\xC4\xBC \xEA\xB0\x80\xED\x95\x9C \xC4\xA0")), des, L"\x013C \xAC00\xD55C \x0120"},
        {"wide element names", Doc(Tag("ShortcutData", "<\xC4\xA0Item>" + Tag("Des", "d") + "</\xC4\xA0Item>")), des, L"d"},
        {"character references become one character", OneShortcut(Tag("Des", "&#xAC00;&#x1F600;")), des, std::wstring(L"\xAC00\U0001F600")},
        {"a byte-order mark is skipped", "\xEF\xBB\xBF" + OneShortcut(Tag("Des", "bom")), des, L"bom"},
        {"text after a zero byte is ignored", OneShortcut(Tag("Des", "z")) + std::string(1, '\0') + "<<<garbage", des, L"z"},
        {"billion laughs does not expand", "<!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>" + OneShortcut(Tag("Des", "&b;")), des, L"&b;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CVersionBuilder builder;
        builder.m_strTempFolder = L"TEMP";
        builder.m_strInstallPath = L"/inst";
        ParsedLists lists;
        EXPECT_TRUE(Parse(builder, Put("m.xml", c.document), lists));
        EXPECT_EQ(c.get(lists), c.expected);
    }
}

TEST_F(ManifestTest, ParseAppendsEveryKindInDocumentOrder) {
    CVersionBuilder builder;
    ParsedLists lists;
    lists.files.push_back({});  // appended to, not emptied
    const std::string doc = Doc(Tag("Firewall", FirewallXml("fw")) + Tag("UpdateData", FileXml("a") + FileXml("b")) +
                                Tag("RegistData", RegXml("k\\v", "1")) + Tag("ShortcutData", ShortcutXml("s", "d")) +
                                Tag("Skin", Tag("OriFileName", "skin.zip")));
    ASSERT_TRUE(Parse(builder, Put("m.xml", doc), lists));
    ASSERT_EQ(lists.files.size(), 3u);
    EXPECT_EQ(lists.files[1].OriFileName, L"a");
    EXPECT_EQ(lists.files[2].OriFileName, L"b");
    ASSERT_EQ(lists.registry.size(), 1u);
    EXPECT_EQ(lists.registry[0].Path, L"k\\v");
    ASSERT_EQ(lists.shortcuts.size(), 1u);
    ASSERT_EQ(lists.firewall.size(), 1u);
    EXPECT_EQ(lists.firewall[0].AppName, L"fw");
}

struct BadCase {
    const char* what;
    std::string content;
    std::vector<std::wstring> lines;  // texts the debug output must hold; empty: no line at all
};

TEST_F(ManifestTest, BrokenOrHostileManifestsAreRefusedWithALine) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    const BadCase cases[] = {
        {"unclosed element", "<M>\n<UpdateData>\n", {L"[Error 452 line] CVersionBuilder::ParseXml()", L"Xml Parse Failed: unexpected end of data at line 3 column 1"}},
        {"text before the root", "abc<M/>", {L"expected < at line 1 column 1"}},
        {"bad attribute", "<M>\n  <a b=c/></M>", {L"expected ' or \" at line 2 column 8"}},
        {"position counts the original text", "<M>&amp;&amp;\n<a\n></M", {L"at line 3 column 5"}},
        {"not UTF-8", "<M>\xFF\xFE</M>", {L"[OVUSVC] [Error 444 line] CVersionBuilder::ParseXml() File Data NULL \n"}},
        {"nesting too deep", deep, {L"elements nested too deeply at line 1 column 772"}},
        {"reference to NUL", "<M>&#0;</M>", {L"invalid numeric character entity"}},
        {"reference beyond Unicode", "<M>&#x110000;</M>", {L"invalid numeric character entity"}},
        {"reference digit that is a wide character", "<M>&#x4\xC4\xB1;</M>", {L"invalid numeric character entity at line 1 column 8"}},
        {"empty file", "", {}},
        {"only a comment", "<!-- nothing -->", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("bad.xml", c.content);
        CVersionBuilder builder;
        ParsedLists lists;
        platform::DebugCapture capture;
        EXPECT_FALSE(Parse(builder, path, lists));
        EXPECT_TRUE(lists.files.empty() && lists.registry.empty());
        if (c.lines.empty()) {
            EXPECT_TRUE(capture.Lines().empty());
        } else {
            ASSERT_EQ(capture.Lines().size(), 1u);
            for (const auto& text : c.lines) EXPECT_TRUE(capture.Contains(text)) << U(capture.Lines()[0]);
            if (!capture.Contains(L"File Data NULL")) {
                EXPECT_TRUE(capture.Contains(W(path)));
            }
        }
    }
}

TEST_F(ManifestTest, TextIsDecodedWholeAcrossReadChunks) {
    // Three-byte characters over more than a megabyte: some straddle the reader's chunks.
    std::string text;
    for (int i = 0; i < 400000; ++i) text += "\xEA\xB0\x80";  // U+AC00
    CVersionBuilder builder;
    ParsedLists lists;
    ASSERT_TRUE(Parse(builder, Put("big.xml", OneShortcut(Tag("Des", text))), lists));
    ASSERT_EQ(lists.shortcuts.size(), 1u);
    EXPECT_EQ(lists.shortcuts[0].Des, std::wstring(400000, L'\xAC00'));

    // A sequence cut off by the end of the file is not UTF-8.
    platform::DebugCapture capture;
    EXPECT_FALSE(Parse(builder, Put("cut.xml", OneShortcut(Tag("Des", text)) + "\xEA\xB0"), lists));
    EXPECT_TRUE(capture.Contains(L"File Data NULL"));
}

TEST_F(ManifestTest, MissingAndOversizedFilesAreRefused) {
    CVersionBuilder builder;
    ParsedLists lists;
    {
        platform::DebugCapture capture;
        EXPECT_FALSE(Parse(builder, m_root / "missing.xml", lists));
        EXPECT_TRUE(capture.Contains(L"[Error 430 line] CVersionBuilder::ParseXml() [" + W(m_root / "missing.xml") + L"] File Open Failed"));
    }
    {
        // A sparse file: nothing of it is read.
        const std::string path = Put("huge.xml", "<M/>");
        std::filesystem::resize_file(path, UpDater::ManifestLimits::kMaxFileBytes + 1);
        platform::DebugCapture capture;
        EXPECT_FALSE(Parse(builder, path, lists));
        EXPECT_TRUE(capture.Contains(L"[Error 436 line] CVersionBuilder::ParseXml() [" + W(path) + L"] File Too Large"));
    }
}

TEST(ManifestBounds, NodeAndDepthLimitsMirrorTheParser) {
    struct Case {
        const wchar_t* text;
        size_t depth, nodes;
        bool refused;
    };
    const Case cases[] = {
        {L"<a><b><c/></b></a>", 2, 100, false},   // a self-closed element opens no level
        {L"<a><b><c></c></b></a>", 2, 100, true},
        {L"<a><!-- <b><c><d> --></a>", 1, 100, false},  // comments, CDATA and attributes hide tags
        {L"<a><![CDATA[<b><c>]]></a>", 1, 100, false},
        {L"<a x='<b><c>'></a>", 1, 100, false},
        {L"<a>t/>t/><b><c></c></b></a>", 2, 100, true},  // "/>" in text closes nothing
        {L"<a><b/><b/><b/></a>", 5, 4, false},
        {L"<a><b/><b/><b/><b/></a>", 5, 4, true},
        {L"<a>text<b/>text</a>", 5, 3, true},       // text nodes count
        {L"<a p='1' q='2'></a>", 5, 2, true},        // attributes count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        bool refused = false;
        try {
            UpDater::CheckManifestBounds(c.text, c.depth, c.nodes);
        } catch (const rapidxml::parse_error&) {
            refused = true;
        }
        EXPECT_EQ(refused, c.refused);
    }
}

TEST_F(ManifestTest, DeltaEntriesNeedAddressSizeAndBothHashes) {
    auto delta = [](const std::string& base, const std::string& url, const std::string& size, const std::string& sha) {
        return "<Delta>" + Tag("BaseFileHash", "H0") + Tag("BaseSha256", base) + Tag("DownloadUrl", url) + Tag("Size", size) +
               Tag("Sha256", sha) + "</Delta>";
    };
    std::string many;
    for (int i = 0; i < 20; ++i) many += delta("b", "http://s/d", "7", "d");
    struct Case {
        const char* what;
        std::string deltas;
        size_t count;  // entries read, each as the complete one
    };
    const Case cases[] = {
        {"no Deltas element", "", 0},
        {"a complete entry", Tag("Deltas", delta("b", "http://s/d", "7", "d")), 1},
        {"without a base hash, address, size or own hash the entry is left out",
         Tag("Deltas", delta("", "http://s/d", "7", "d") + delta("b", "", "7", "d") + delta("b", "http://s/d", "0", "d") +
                           delta("b", "http://s/d", "7", "") + delta("b", "http://s/d", "7", "d")),
         1},
        {"text between entries is not an entry", Tag("Deltas", "x" + delta("b", "http://s/d", "7", "d") + "y"), 1},
        {"at most sixteen are read", Tag("Deltas", many), UpDater::kMaxDeltasPerItem},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CVersionBuilder builder;
        ParsedLists lists;
        const std::string item = FileXml("a");
        const std::string doc = Doc(Tag("UpdateData", item.substr(0, item.size() - 7) + c.deltas + "</Item>"));
        ASSERT_TRUE(Parse(builder, Put("m.xml", doc), lists));
        ASSERT_EQ(lists.files.size(), 1u);
        const auto& deltas = lists.files[0].Deltas;
        ASSERT_EQ(deltas.size(), c.count);
        for (const auto& d : deltas) {
            EXPECT_EQ(d.BaseFileHash, L"H0");
            EXPECT_EQ(d.BaseSha256, L"b");
            EXPECT_EQ(d.DownloadUrl, L"http://s/d");
            EXPECT_EQ(d.Size, 7);
            EXPECT_EQ(d.Sha256, L"d");
        }
    }
}

}  // namespace
}  // namespace orvo::test
