// Manifest parsing and update planning at 1k, 10k and 100k file items.
//   manifest_bench generate DIR N   writes DIR/installed_N.xml, DIR/new_N.xml and the installed
//                                   files of the installed manifest under DIR/app_N
//   manifest_bench parse FILE       parses one manifest into records
//   manifest_bench plan DIR N       plans new_N.xml against installed_N.xml as start-up does
// Run under an isolated HOME/XDG/ORVO_SYSROOT (bench/manifest.sh does that).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "manifest/ManifestXml.h"
#include "manifest/RegValue.h"
#include "manifest/VersionBuilder.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

std::string Tag(const char* name, const std::string& value) { return std::string("<") + name + ">" + value + "</" + name + ">"; }

struct Shape {
    size_t files, registry, shortcuts, firewall;
};
Shape ShapeOf(size_t n) { return {n, n / 20, n / 50, n / 100}; }

std::string HexHash(std::mt19937_64& random) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return buf;
}

// One manifest. bNew changes about 2% of the file hashes, drops 1% of each kind and adds 1%.
std::string Manifest(size_t n, bool bNew, const std::string& app) {
    const Shape shape = ShapeOf(n);
    std::mt19937_64 random(n);  // the same hashes in both manifests
    std::mt19937 change(static_cast<unsigned>(n) * 7 + 1);
    auto changed = [&](unsigned percent) { return bNew && change() % 100 < percent; };
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<UpdateInfo>\n";
    xml += Tag("Skin", Tag("FileHash", "0") + Tag("DownloadUrl", "http://127.0.0.1/skin.zip") + Tag("OriFileName", "skin.swf"));
    xml += "\n<UpdateData>\n";
    for (size_t i = 0; i < shape.files + (bNew ? shape.files / 100 : 0); ++i) {
        std::string hash = HexHash(random);
        if (i >= shape.files) hash = "added";
        if (changed(1)) continue;  // dropped
        if (changed(2)) hash[0] = hash[0] == 'f' ? '0' : 'f';
        const std::string dir = "dir" + std::to_string(i % 100);
        const std::string name = "file" + std::to_string(i) + ".dll";
        xml += "  <Item>" + Tag("FileHash", hash) + Tag("DownloadUrl", "http://127.0.0.1:8080/update/" + dir + "/" + name + ".zip") +
               Tag("OriFileName", name) + Tag("FileSize", std::to_string(1000 + i)) + Tag("RegCom", i % 10 == 0 ? "1" : "0") +
               Tag("Folder", "_INSTALL\\" + dir) + "</Item>\n";
    }
    xml += "</UpdateData>\n<RegistData>\n";
    xml += "  <Item>" + Tag("Version", "1") + Tag("RootPath", "HLM") + Tag("Path", "Software\\Bench\\Install SZ") + Tag("Value", app) +
           Tag("ValueType", "STRING") + "</Item>\n";
    for (size_t i = 0; i < shape.registry + (bNew ? shape.registry / 100 : 0); ++i) {
        if (changed(1)) continue;
        xml += "  <Item>" + Tag("Version", "1") + Tag("RootPath", "HCU") + Tag("Path", "Software\\Bench\\Key" + std::to_string(i % 50) + "\\Value" + std::to_string(i)) +
               Tag("Value", "_INSTALL\\dir" + std::to_string(i % 100)) + Tag("ValueType", i % 2 ? "STRING" : "DWORD") + "</Item>\n";
    }
    xml += "</RegistData>\n<ShortcutData>\n";
    for (size_t i = 0; i < shape.shortcuts + (bNew ? shape.shortcuts / 100 : 0); ++i) {
        if (changed(1)) continue;
        xml += "  <Item>" + Tag("Version", "1") + Tag("IsUrlType", "0") + Tag("SourcePath", "_INSTALL\\dir0\\file" + std::to_string(i) + ".dll") +
               Tag("DestFolderPath", "_INSTALL\\links\\link" + std::to_string(i) + ".desktop") + Tag("Des", "Link " + std::to_string(i)) + "</Item>\n";
    }
    xml += "</ShortcutData>\n<Firewall>\n";
    for (size_t i = 0; i < shape.firewall + (bNew ? shape.firewall / 100 : 0); ++i) {
        if (changed(1)) continue;
        xml += "  <Item>" + Tag("Version", "1") + Tag("Folder", "_INSTALL\\dir" + std::to_string(i % 100)) + Tag("FileName", "app" + std::to_string(i)) +
               Tag("AppName", "App " + std::to_string(i)) + "</Item>\n";
    }
    xml += "</Firewall>\n</UpdateInfo>\n";
    return xml;
}

int Generate(const std::string& dir, size_t n) {
    namespace fs = std::filesystem;
    const std::string app = dir + "/app_" + std::to_string(n);
    std::ofstream(dir + "/installed_" + std::to_string(n) + ".xml") << Manifest(n, false, app);
    std::ofstream(dir + "/new_" + std::to_string(n) + ".xml") << Manifest(n, true, app);
    // The installed files and shortcut files, so that unchanged items really are up to date.
    const Shape shape = ShapeOf(n);
    for (size_t d = 0; d < 100; ++d) fs::create_directories(app + "/dir" + std::to_string(d));
    fs::create_directories(app + "/links");
    for (size_t i = 0; i < shape.files; ++i) std::ofstream(app + "/dir" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".dll");
    for (size_t i = 0; i < shape.shortcuts; ++i) std::ofstream(app + "/links/link" + std::to_string(i) + ".desktop");
    return 0;
}

int Parse(const std::string& file) {
    UpDater::CVersionBuilder builder;
    builder.m_strInstallPath = L"/opt/app";
    builder.m_strTempFolder = L"/tmp/Temp";
    UpDater::UpdateList files;
    UpDater::RegistList registry;
    UpDater::ShortcutList shortcuts;
    UpDater::FirewallList firewall;
    const auto start = Clock::now();
    const bool ok = builder.ParseXml(platform::FromUtf8(file), files, registry, shortcuts, firewall);
    std::printf("parse %s: %s, %zu files, %zu registry, %zu shortcuts, %zu firewall, %.3f s\n", file.c_str(), ok ? "ok" : "FAILED",
                files.size(), registry.size(), shortcuts.size(), firewall.size(), Seconds(start));
    return ok ? 0 : 1;
}

// Only reading, converting, checking and parsing into the tree, without records.
int Load(const std::string& file) {
    const auto start = Clock::now();
    UpDater::CManifestDocument doc;
    const bool ok = doc.Load(platform::FromUtf8(file), {L"Load", 0, 0, 0, 0});
    std::printf("load %s: %s, %.3f s\n", file.c_str(), ok ? "ok" : "FAILED", Seconds(start));
    return ok ? 0 : 1;
}

int Plan(const std::string& dir, size_t n) {
    namespace fs = std::filesystem;
    const std::string app = dir + "/app_" + std::to_string(n);
    fs::copy_file(dir + "/installed_" + std::to_string(n) + ".xml", app + "/update.xml", fs::copy_options::overwrite_existing);
    UpDater::CRegStringValue install(L"Software\\Bench\\Install SZ", L"", false, platform::RootLocalMachine);
    install = platform::FromUtf8(app);

    UpDater::CVersionBuilder builder;
    builder.m_strXmlName = L"update.xml";
    builder.m_strTempFolder = platform::FromUtf8(dir + "/Temp");
    builder.m_strTempXmlPath = platform::FromUtf8(dir + "/new_" + std::to_string(n) + ".xml");
    auto start = Clock::now();
    const long faults0 = MinorFaults();
    if (!builder.Init_InstallRegPath()) return 1;
    const double init = Seconds(start);
    const long faults1 = MinorFaults();
    start = Clock::now();
    const bool nothing = builder.CompareXml();
    const double plan = Seconds(start);
    std::printf("page faults: install folder %ld, parse both and plan %ld\n", faults1 - faults0, MinorFaults() - faults1);
    std::printf("plan %zu: install folder %.3f s, parse both and plan %.3f s; %s: %zu files, %zu registry, %zu shortcuts, %zu firewall "
                "to do; %zu files, %zu registry, %zu shortcuts, %zu firewall removed\n",
                n, init, plan, nothing ? "nothing to do" : "work", builder.m_UpdateList.size(), builder.m_RegistList.size(),
                builder.m_ShortcutList.size(), builder.m_FirewallList.size(), builder.m_RemoveUpdateList.size(),
                builder.m_RemoveRegistList.size(), builder.m_RemoveShortcutList.size(), builder.m_RemoveFirewallList.size());
    // The lookup parses the new manifest and CompareXml goes on from that parse: the figure
    // is both together.
    std::printf("seconds %.6f\n", init + plan);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc == 4) return Generate(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (mode == "parse" && argc == 3) return Parse(argv[2]);
    if (mode == "load" && argc == 3) return Load(argv[2]);
    if (mode == "plan" && argc == 4) return Plan(argv[2], std::strtoul(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: manifest_bench generate DIR N | parse FILE | plan DIR N\n");
    return 2;
}
