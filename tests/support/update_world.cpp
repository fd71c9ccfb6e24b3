#include "support/update_world.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <sstream>

namespace orvo::test {

UpdateWorld::UpdateWorld() : UpdateWorld(NginxServer::Options{}) {}

UpdateWorld::UpdateWorld(const NginxServer::Options& options) : server(options) {
    updaterExe = BuiltBinary("src/app/OrvoUpdaterService");
    installDir = m_root / "inst";
    server.Start();
    manifestUrl = server.Url("/app.xml");
    urlBase = server.Url("");
}

std::string UpdateWorld::TargetScript(const std::string& version) {
    return "#!/bin/sh\n# app " + version +
           "\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$(dirname \"$0\")/starts\"\necho >> \"$(dirname \"$0\")/starts\"\n";
}

std::string UpdateWorld::Starts() const {
    const std::string path = installDir + "/starts";
    for (int i = 0; i < 100 && !Exists(path); ++i) usleep(20000);
    usleep(100000);  // the target runs detached; let it finish writing
    return ReadFile(path);
}

std::string UpdateWorld::ContentId(const PublishedFile& f) {
    // Changes with the content; names the package and stands in for the manifest's hash.
    unsigned long sum = 5381;
    for (unsigned char c : f.content) sum = sum * 33 + c;
    return std::to_string(sum) + "-" + std::to_string(f.content.size());
}

std::string UpdateWorld::PackagePath(const PublishedFile& f) const {
    return server.Root() + "/pkg/" + ContentId(f) + "/" + f.name + ".zip";
}

static std::string Tag(const std::string& name, const std::string& value) { return "<" + name + ">" + value + "</" + name + ">"; }

std::string UpdateWorld::ManifestXml(const std::vector<PublishedFile>& files, const std::string& extraXml,
                                     const std::map<std::string, long long>& sizeOverride) const {
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<UpdateInfo>\n<UpdateData>\n";
    for (const auto& f : files) {
        const auto size = sizeOverride.count(f.name) ? sizeOverride.at(f.name) : static_cast<long long>(f.content.size());
        x << "<Item>" << Tag("FileHash", ContentId(f))
          << Tag("DownloadUrl", urlBase + "/pkg/" + ContentId(f) + "/" + f.name + ".zip") << Tag("OriFileName", f.name)
          << Tag("FileSize", std::to_string(size)) << Tag("RegCom", f.regCom ? "1" : "0") << Tag("Folder", f.folder) << "</Item>\n";
    }
    x << "</UpdateData>\n<RegistData>\n<Item>" << Tag("Version", "1") << Tag("RootPath", "HLM")
      << Tag("Path", "Software\\OrvoTest\\App\\INSTALL SZ") << Tag("Value", InstallFolderValue()) << Tag("ValueType", "STRING")
      << "</Item>\n</RegistData>\n"
      << extraXml << "</UpdateInfo>\n";
    return x.str();
}

void UpdateWorld::Publish(const std::vector<PublishedFile>& files, const std::string& extraXml) {
    for (const auto& f : files) {
        const std::string stage = m_root / ("stage/" + ContentId(f));
        MakeDirs(server.Root() + "/pkg/" + ContentId(f));
        const std::string src = stage + "/" + f.name;
        WriteFile(src, f.content);
        ::chmod(src.c_str(), f.executable ? 0755 : 0644);
        const std::string zip = PackagePath(f);
        ::unlink(zip.c_str());
        if (orvo::test::Run("cd '" + stage + "' && zip -q -X '" + zip + "' '" + f.name + "'") != 0) throw std::runtime_error("zip failed");
    }
    const std::string manifest = server.Root() + "/app.xml";
    WriteFile(manifest, ManifestXml(files, extraXml));
    // The server's validators count whole seconds: each release gets a second of its own (in the
    // past), so that two releases of one size published within a second never look the same.
    static long s_releases = 0;
    const struct timespec times[2] = {{::time(nullptr) - 100000 + s_releases, 0}, {::time(nullptr) - 100000 + s_releases, 0}};
    ++s_releases;
    ::utimensat(AT_FDCWD, manifest.c_str(), times, 0);
}

std::string UpdateWorld::UpdaterCommand(const std::string& target, const std::string& params) const {
    // Messages in English whatever the language of the machine running the tests.
    return "env LANGUAGE= LC_ALL=C.UTF-8 ORVO_DEBUG=1 '" + updaterExe + "' " + manifestUrl + " NULL " + target + " " + params;
}

int UpdateWorld::RunUpdater(std::string* out, const std::string& target, const std::string& params) {
    return orvo::test::Run("unset DISPLAY; " + UpdaterCommand(target, params) + " 2>&1 </dev/null", out);
}

}  // namespace orvo::test
