#include "orvo-publish/ManifestWriter.h"

#include "platform/strings.h"

namespace publish {

namespace {

void Escaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
}

void Field(std::string& out, const char* name, const std::wstring& value) {
    out.append("<").append(name).append(">");
    Escaped(out, platform::ToUtf8(value));
    out.append("</").append(name).append(">");
}

void Field(std::string& out, const char* name, int64_t value) { Field(out, name, std::to_wstring(value)); }

const wchar_t* TypeText(uint32_t type) { return type == UpDater::kRegTypeDword ? L"DWORD" : L"STRING"; }

}  // namespace

std::string FormatManifest(const ReleaseManifest& m) {
    std::string x = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<UpdateInfo>\n";
    if (m.sequence) {
        Field(x, "Sequence", static_cast<int64_t>(*m.sequence));
        x += "\n";
    }
    if (!m.expires.empty()) {
        Field(x, "Expires", platform::FromUtf8(m.expires));
        x += "\n";
    }
    x += "<UpdateData>\n";
    for (const auto& f : m.files) {
        x += "<Item>";
        Field(x, "FileHash", f.FileHash);
        Field(x, "DownloadUrl", f.DownloadUrl);
        Field(x, "OriFileName", f.OriFileName);
        Field(x, "FileSize", f.FileSize);
        Field(x, "RegCom", f.RegCom);
        Field(x, "Folder", f.Folder);
        Field(x, "Sha256", f.Sha256);
        Field(x, "PackageSize", f.PackageSize);
        if (!f.Deltas.empty()) {
            x += "<Deltas>";
            for (const auto& d : f.Deltas) {
                x += "<Delta>";
                Field(x, "BaseFileHash", d.BaseFileHash);
                Field(x, "BaseSha256", d.BaseSha256);
                Field(x, "DownloadUrl", d.DownloadUrl);
                Field(x, "Size", d.Size);
                Field(x, "Sha256", d.Sha256);
                x += "</Delta>";
            }
            x += "</Deltas>";
        }
        x += "</Item>\n";
    }
    x += "</UpdateData>\n<RegistData>\n";
    for (const auto& r : m.registry) {
        x += "<Item>";
        Field(x, "Version", r.Version);
        Field(x, "RootPath", r.RootPath);
        Field(x, "Path", r.Path);
        Field(x, "Value", r.Value);
        Field(x, "ValueType", TypeText(r.ValueType));
        x += "</Item>\n";
    }
    x += "</RegistData>\n<ShortcutData>\n";
    for (const auto& s : m.shortcuts) {
        x += "<Item>";
        Field(x, "Version", s.Version);
        Field(x, "IsUrlType", s.IsUrlType);
        Field(x, "SourcePath", s.SourcePath);
        Field(x, "DestFolderPath", s.DestFolderPath);
        Field(x, "Des", s.Des);
        x += "</Item>\n";
    }
    x += "</ShortcutData>\n<Firewall>\n";
    for (const auto& f : m.firewall) {
        x += "<Item>";
        Field(x, "Version", f.Version);
        Field(x, "Folder", f.Folder);
        Field(x, "FileName", f.FileName);
        Field(x, "AppName", f.AppName);
        x += "</Item>\n";
    }
    x += "</Firewall>\n";
    if (m.skin) {
        x += "<Skin>";
        Field(x, "FileHash", m.skin->FileHash);
        Field(x, "DownloadUrl", m.skin->DownloadUrl);
        Field(x, "OriFileName", m.skin->OriFileName);
        Field(x, "FileSize", m.skin->FileSize);
        Field(x, "Sha256", m.skin->Sha256);
        Field(x, "PackageSize", m.skin->PackageSize);
        x += "</Skin>\n";
    }
    x += "</UpdateInfo>\n";
    return x;
}

}  // namespace publish
