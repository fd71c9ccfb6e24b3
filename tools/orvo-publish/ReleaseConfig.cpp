#include "orvo-publish/ReleaseConfig.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "manifest/ReleaseCheck.h"
#include "platform/strings.h"

namespace publish {

namespace {

using platform::FromUtf8;

class Reader {
public:
    explicit Reader(std::string path) : m_path(std::move(path)) {}

    [[noreturn]] void Fail(const toml::node* node, const std::string& what) const {
        std::string where = m_path;
        if (node != nullptr && node->source().begin.line > 0) where += ":" + std::to_string(node->source().begin.line);
        throw InputError(where + ": " + what);
    }

    // Every key of the table must be one of the allowed ones: a misspelt key is an error, not a
    // silently missing setting.
    void OnlyKeys(const toml::table& table, const std::string& name, std::initializer_list<const char*> allowed) const {
        for (const auto& [key, node] : table) {
            const bool known = std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return key.str() == a; });
            if (!known) Fail(&node, "unknown key '" + std::string(key.str()) + "' in " + name);
        }
    }

    const toml::table* Table(const toml::table& parent, const char* key, bool required) const {
        const toml::node* node = parent.get(key);
        if (node == nullptr) {
            if (required) Fail(nullptr, std::string("missing table [") + key + "]");
            return nullptr;
        }
        if (!node->is_table()) Fail(node, std::string(key) + " must be a table");
        return node->as_table();
    }

    std::string String(const toml::table& t, const char* key, const std::string& in, bool required,
                       const std::string& fallback = "") const {
        const toml::node* node = t.get(key);
        if (node == nullptr) {
            if (required) Fail(&t, in + "." + key + " is missing");
            return fallback;
        }
        if (!node->is_string()) Fail(node, in + "." + key + " must be a string");
        const std::string value = **node->as_string();
        if (value.find('\0') != std::string::npos || value.find_first_of("\r\n") != std::string::npos)
            Fail(node, in + "." + key + " must be one line");
        return value;
    }

    // The tables of an array of tables ([[name]]).
    std::vector<const toml::table*> Tables(const toml::table& root, const char* key) const {
        std::vector<const toml::table*> out;
        const toml::node* node = root.get(key);
        if (node == nullptr) return out;
        const toml::array* array = node->as_array();
        if (array == nullptr) Fail(node, std::string(key) + " must be written as [[" + key + "]] tables");
        for (const auto& item : *array) {
            if (!item.is_table()) Fail(&item, std::string(key) + " entries must be tables");
            out.push_back(item.as_table());
        }
        return out;
    }

    std::wstring RootPath(const toml::table& t, const std::string& in) const {
        const std::string root = String(t, "root", in, false, "HCU");
        static const char* kRoots[] = {"HCR", "HCU", "HLM", "HU", "HCC"};
        if (std::none_of(std::begin(kRoots), std::end(kRoots), [&](const char* r) { return root == r; }))
            Fail(t.get("root"), in + ".root must be one of HCR, HCU, HLM, HU, HCC");
        return FromUtf8(root);
    }

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

uint32_t RootKey(const std::wstring& root) {
    if (root == L"HCR") return platform::RootClassesRoot;
    if (root == L"HLM") return platform::RootLocalMachine;
    if (root == L"HU") return platform::RootUsers;
    if (root == L"HCC") return platform::RootCurrentConfig;
    return platform::RootCurrentUser;
}

}  // namespace

ReleaseConfig ReadReleaseConfig(const std::string& path) {
    Reader r(path);
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw InputError(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    r.OnlyKeys(root, "the description", {"release", "install", "folders", "components", "registry", "shortcut", "firewall", "skin"});
    ReleaseConfig cfg;

    if (const toml::table* rel = r.Table(root, "release", false)) {
        r.OnlyKeys(*rel, "[release]", {"manifest", "base_url", "sequence", "expires"});
        cfg.manifestName = r.String(*rel, "manifest", "release", false, cfg.manifestName);
        if (cfg.manifestName.empty() || cfg.manifestName.find_first_of("/\\") != std::string::npos || cfg.manifestName[0] == '.')
            r.Fail(rel->get("manifest"), "release.manifest must be a plain file name");
        cfg.baseUrl = r.String(*rel, "base_url", "release", false);
        if (const toml::node* seq = rel->get("sequence")) {
            const auto n = seq->value<int64_t>();
            if (!seq->is_integer() || !n || *n < 0) r.Fail(seq, "release.sequence must be a whole number of 0 or more");
            cfg.sequence = static_cast<uint64_t>(*n);
        }
        cfg.expires = r.String(*rel, "expires", "release", false);
        if (!cfg.expires.empty() && !UpDater::ParseUtcTime(FromUtf8(cfg.expires)))
            r.Fail(rel->get("expires"), "release.expires must be a UTC date-time like 2027-01-31T00:00:00Z");
    }

    const toml::table* inst = r.Table(root, "install", true);
    r.OnlyKeys(*inst, "[install]", {"root", "key", "folder", "version"});
    cfg.installEntry.RootPath = r.RootPath(*inst, "install");
    cfg.installEntry.hRootKey = RootKey(cfg.installEntry.RootPath);
    const std::string key = r.String(*inst, "key", "install", true);
    if (key.empty()) r.Fail(inst->get("key"), "install.key must name a registry key");
    cfg.installEntry.Path = FromUtf8(key) + L"\\INSTALL SZ";
    cfg.installEntry.Value = FromUtf8(r.String(*inst, "folder", "install", true));
    if (cfg.installEntry.Value.empty()) r.Fail(inst->get("folder"), "install.folder must name a folder");
    cfg.installEntry.Version = FromUtf8(r.String(*inst, "version", "install", false, "1"));
    cfg.installEntry.ValueType = UpDater::kRegTypeString;

    cfg.folders[""] = L"_INSTALL";
    if (const toml::table* folders = r.Table(root, "folders", false)) {
        for (const auto& [sub, node] : *folders) {
            if (!node.is_string()) r.Fail(&node, "folders.\"" + std::string(sub.str()) + "\" must be a string");
            std::string name(sub.str());
            std::replace(name.begin(), name.end(), '\\', '/');
            while (!name.empty() && name.back() == '/') name.pop_back();
            if (name == ".") name.clear();
            if (name.find("..") != std::string::npos || (!name.empty() && name[0] == '/'))
                r.Fail(&node, "folders: '" + std::string(sub.str()) + "' must be a subfolder of the build folder");
            cfg.folders[name] = FromUtf8(**node.as_string());
        }
    }

    if (const toml::table* comp = r.Table(root, "components", false)) {
        r.OnlyKeys(*comp, "[components]", {"register"});
        if (const toml::node* list = comp->get("register")) {
            const toml::array* array = list->as_array();
            if (array == nullptr) r.Fail(list, "components.register must be a list of extensions");
            for (const auto& e : *array) {
                const auto ext = e.value<std::string>();
                if (!ext || ext->size() < 2 || (*ext)[0] != '.') r.Fail(&e, "components.register entries look like \".dll\"");
                std::string lower = *ext;
                std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
                cfg.componentExtensions.push_back(FromUtf8(lower));
            }
        }
    }

    for (const toml::table* t : r.Tables(root, "registry")) {
        r.OnlyKeys(*t, "[[registry]]", {"root", "path", "value", "type", "version"});
        UpDater::RegistItem item;
        item.RootPath = r.RootPath(*t, "registry");
        item.hRootKey = RootKey(item.RootPath);
        item.Path = FromUtf8(r.String(*t, "path", "registry", true));
        if (item.Path.find(L'\\') == std::wstring::npos) r.Fail(t->get("path"), "registry.path must be 'Key\\Value name'");
        item.Value = FromUtf8(r.String(*t, "value", "registry", true));
        const std::string type = r.String(*t, "type", "registry", false, "STRING");
        if (type != "STRING" && type != "DWORD") r.Fail(t->get("type"), "registry.type must be STRING or DWORD");
        item.ValueType = type == "STRING" ? UpDater::kRegTypeString : UpDater::kRegTypeDword;
        item.Version = FromUtf8(r.String(*t, "version", "registry", false, "1"));
        cfg.registry.push_back(item);
    }
    for (const toml::table* t : r.Tables(root, "shortcut")) {
        r.OnlyKeys(*t, "[[shortcut]]", {"source", "dest", "description", "url", "version"});
        UpDater::ShortcutItem item;
        item.SourcePath = FromUtf8(r.String(*t, "source", "shortcut", true));
        item.DestFolderPath = FromUtf8(r.String(*t, "dest", "shortcut", true));
        item.Des = FromUtf8(r.String(*t, "description", "shortcut", false));
        if (const toml::node* url = t->get("url")) {
            if (!url->is_boolean()) r.Fail(url, "shortcut.url must be true or false");
            item.IsUrlType = **url->as_boolean() ? 1 : 0;
        }
        item.Version = FromUtf8(r.String(*t, "version", "shortcut", false, "1"));
        cfg.shortcuts.push_back(item);
    }
    for (const toml::table* t : r.Tables(root, "firewall")) {
        r.OnlyKeys(*t, "[[firewall]]", {"folder", "file", "name", "version"});
        UpDater::FirewallItem item;
        item.Folder = FromUtf8(r.String(*t, "folder", "firewall", true));
        item.FileName = FromUtf8(r.String(*t, "file", "firewall", true));
        item.AppName = FromUtf8(r.String(*t, "name", "firewall", true));
        item.Version = FromUtf8(r.String(*t, "version", "firewall", false, "1"));
        cfg.firewall.push_back(item);
    }
    if (const toml::table* skin = r.Table(root, "skin", false)) {
        r.OnlyKeys(*skin, "[skin]", {"file", "folder"});
        const auto resolve = [&](const std::string& p) {
            const std::filesystem::path f(p);
            return (f.is_absolute() ? f : std::filesystem::path(path).parent_path() / f).lexically_normal().string();
        };
        const std::string file = r.String(*skin, "file", "skin", false);
        const std::string folder = r.String(*skin, "folder", "skin", false);
        if (file.empty() == folder.empty()) throw InputError(path + ": [skin] takes either file (an HTML page) or folder (a native skin)");
        if (!file.empty()) cfg.skinFile = resolve(file);
        else cfg.skinFolder = resolve(folder);
    }
    return cfg;
}

}  // namespace publish
