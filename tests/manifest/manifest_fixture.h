// Manifest texts for the tests, and a builder in an isolated world.
#pragma once

#include <string>

#include "manifest/VersionBuilder.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "support/test_env.h"

namespace orvo::test {

inline std::wstring W(const std::string& s) { return platform::FromUtf8(s); }
inline std::string U(const std::wstring& s) { return platform::ToUtf8(s); }

inline std::string Tag(const std::string& name, const std::string& value) { return "<" + name + ">" + value + "</" + name + ">"; }

inline std::string Doc(const std::string& body, const std::string& root = "UpdateInfo") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<" + root + ">\n" + body + "\n</" + root + ">\n";
}

inline std::string FileXml(const std::string& name, const std::string& hash = "H1", const std::string& url = "http://s/a.zip",
                           const std::string& size = "10", const std::string& folder = "_INSTALL\\bin") {
    return "<Item>" + Tag("FileHash", hash) + Tag("DownloadUrl", url) + Tag("OriFileName", name) + Tag("FileSize", size) +
           Tag("RegCom", "0") + Tag("Folder", folder) + "</Item>";
}

inline std::string RegXml(const std::string& path, const std::string& value, const std::string& type = "STRING",
                          const std::string& version = "1", const std::string& root = "HLM") {
    return "<Item>" + Tag("Version", version) + Tag("RootPath", root) + Tag("Path", path) + Tag("Value", value) +
           Tag("ValueType", type) + "</Item>";
}

inline std::string ShortcutXml(const std::string& source, const std::string& dest, const std::string& version = "1",
                               const std::string& des = "App", const std::string& url = "0") {
    return "<Item>" + Tag("Version", version) + Tag("IsUrlType", url) + Tag("SourcePath", source) +
           Tag("DestFolderPath", dest) + Tag("Des", des) + "</Item>";
}

inline std::string FirewallXml(const std::string& app, const std::string& version = "1", const std::string& file = "app.bin",
                               const std::string& folder = "_INSTALL") {
    return "<Item>" + Tag("Version", version) + Tag("Folder", folder) + Tag("FileName", file) + Tag("AppName", app) + "</Item>";
}

// The four lists of one parse.
struct ParsedLists {
    UpDater::UpdateList files;
    UpDater::RegistList registry;
    UpDater::ShortcutList shortcuts;
    UpDater::FirewallList firewall;
};

class ManifestTest : public IsolatedEnvTest {
protected:
    // Writes a file below the test root and returns its path.
    std::string Put(const std::string& name, const std::string& content) {
        const std::string path = m_root / name;
        WriteFile(path, content);
        return path;
    }
    bool Parse(UpDater::CVersionBuilder& builder, const std::string& path, ParsedLists& out) {
        return builder.ParseXml(W(path), out.files, out.registry, out.shortcuts, out.firewall);
    }
};

}  // namespace orvo::test
