// A published application and an install folder for end-to-end runs of the real updater:
// packages made with the standard zip tool, a manifest, nginx serving both on loopback.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "manifest/WorkingFolder.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

namespace orvo::test {

struct PublishedFile {
    std::string name;     // installed file name
    std::string content;
    std::string folder = "_INSTALL";  // manifest folder (tokens allowed)
    bool executable = false;
    bool regCom = false;  // a component to register
};

class UpdateWorld : public IsolatedEnvTest {
public:
    // A target program that appends its arguments to "starts" beside itself.
    static std::string TargetScript(const std::string& version);

protected:
    UpdateWorld();
    explicit UpdateWorld(const NginxServer::Options& options);

    // Publishes a version of the application: one zip package per file, named by its content
    // (an unchanged file keeps its address), and the manifest /app.xml naming them, with the
    // install-folder registry entry and `extraXml` (more sections) inside the root element.
    void Publish(const std::vector<PublishedFile>& files, const std::string& extraXml = "");
    // The manifest text for the files.
    std::string ManifestXml(const std::vector<PublishedFile>& files, const std::string& extraXml,
                            const std::map<std::string, long long>& sizeOverride = {}) const;
    static std::string ContentId(const PublishedFile& f);
    // Where the file's package lies on the server.
    std::string PackagePath(const PublishedFile& f) const;

    // Runs the updater executable with "<manifest url> NULL <target> <params>" (params split by
    // the shell); returns its exit code and its stderr (with debug lines) in *out.
    int RunUpdater(std::string* out = nullptr, const std::string& target = "app.sh", const std::string& params = "-v \"two words\"");
    std::string UpdaterCommand(const std::string& target = "app.sh", const std::string& params = "-v \"two words\"") const;

    // The install folder as the manifest names it (the updater's view of installDir).
    virtual std::string InstallFolderValue() const { return installDir; }

    std::string Installed(const std::string& rel) const { return installDir + "/" + rel; }
    // The updater's working folder for the manifest address (defined here: only suites that link
    // the manifest library call it).
    std::string WorkFolder(const std::string& url = "") const {
        const std::wstring rel = UpDater::AddressWorkingFolder(platform::FromUtf8(url.empty() ? manifestUrl : url));
        return home() + "/.cache/" + platform::ToUtf8(platform::NativeSeparators(rel));
    }
    std::string Starts() const;

    NginxServer server;
    std::string updaterExe;  // the built executable unless a test runs a copy
    std::string installDir;
    std::string manifestUrl;
    // Scheme, host and port of the addresses in the manifest (the server's, unless a test puts
    // something between).
    std::string urlBase;
};

}  // namespace orvo::test
