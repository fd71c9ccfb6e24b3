// Releases made with orvo-publish from a build folder, signed with a vendor key the copied
// updater trusts, and served by nginx at /rel (each request in access.log).
#pragma once

#include <ctime>
#include <string>

#include "support/update_world.h"

namespace orvo::test {

class PublishedRelease : public UpdateWorld {
protected:
    PublishedRelease() {
        server.AddDirectives("access_log " + m_root.path() + "/access.log;");
        server.Stop();
        server.Start();
        manifestUrl = server.Url("/rel/app.xml");
        const std::string bin = m_root / "bin";
        MakeDirs(bin);
        updaterExe = bin + "/OrvoUpdaterService";
        orvo::test::Run("cp '" + BuiltBinary("src/app/OrvoUpdaterService") + "' '" + updaterExe + "'");
        EXPECT_EQ(Tool("keygen --out '" + (m_root / "vendor") + "'"), 0);
        WriteFile(bin + "/trusted-keys.pub", ReadFile(m_root / "vendor.pub"));
        WriteFile(m_root / "release.toml", "[release]\nbase_url = \"" + server.Url("/rel") + "\"\n[install]\nroot = \"HLM\"\n" +
                                               "key = 'Software\\OrvoTest\\App'\nfolder = '" + installDir + "'\n" +
                                               "[folders]\nlib = '_INSTALL\\lib'\n");
    }
    int Tool(const std::string& args, std::string* out = nullptr) {
        return orvo::test::Run(BuiltBinary("tools/orvo-publish/orvo-publish") + " " + args + " 2>&1", out);
    }
    // Publishes the build folder as the release the server offers at /rel.
    // extra: more options of the build command.
    void Release(const std::string& name, const std::string& previous = "", const std::string& extra = "") {
        std::string log;
        ASSERT_EQ(Tool("build --config '" + (m_root / "release.toml") + "' --from '" + (m_root / "build") + "' --out '" +
                           (m_root / name) + "' --key '" + (m_root / "vendor.key") + "'" +
                           (previous.empty() ? " --first-release" : " --previous '" + previous + "'") + " " + extra,
                       &log),
                  0)
            << log;
        // Each release's files get a time of their own, as releases made a while apart would:
        // two made within the same second with a manifest of the same size would carry the
        // same validators, and the server would call the second one not modified.
        orvo::test::Run("rm -rf '" + server.Root() + "/rel' && cp -r '" + (m_root / name) + "' '" + server.Root() + "/rel' && find '" +
                        server.Root() + "/rel' -exec touch -m -d @" + std::to_string(m_tFirstRelease + 60 * m_nReleases++) + " {} +");
    }
    const long long m_tFirstRelease = static_cast<long long>(::time(nullptr)) - 3600;
    int m_nReleases = 0;
};

}  // namespace orvo::test
