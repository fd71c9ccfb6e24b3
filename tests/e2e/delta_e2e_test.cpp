// Releases with deltas: the real updater fetches a changed file as a delta from its installed
// version when it can, and its full package whenever the delta cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <regex>
#include <set>

#include "support/published_release.h"

using namespace orvo::test;

namespace {

std::string RandomBytes(size_t size, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::string s(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = rng();
        std::memcpy(&s[i], &v, 8);
    }
    return s;
}

// Overwrites a few short runs spread over the file.
std::string ChangedInPlaces(std::string s, uint64_t seed) {
    std::mt19937_64 rng(seed);
    for (int k = 0; k < 6; ++k) {
        const size_t at = rng() % (s.size() - 64);
        for (size_t i = 0; i < 64; ++i) s[at + i] = static_cast<char>(rng());
    }
    return s;
}

struct Fetch {
    std::string uri;
    uint64_t bytes = 0;
};

// GET requests of the combined log format: address and body bytes.
std::vector<Fetch> Fetches(const std::string& log) {
    std::vector<Fetch> out;
    static const std::regex line("\"GET (\\S+) HTTP/[0-9.]+\" [0-9]+ ([0-9]+)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        out.push_back({(*it)[1].str(), std::stoull((*it)[2].str())});
    return out;
}

// The package address and delta addresses the manifest gives the named file.
std::string ItemOf(const std::string& manifest, const std::string& name) {
    const size_t at = manifest.find("<OriFileName>" + name + "</OriFileName>");
    if (at == std::string::npos) return "";
    const size_t begin = manifest.rfind("<Item>", at);
    return manifest.substr(begin, manifest.find("</Item>", at) - begin);
}

std::string FieldOf(const std::string& xml, const std::string& field) {
    const size_t at = xml.find("<" + field + ">");
    if (at == std::string::npos) return "";
    const size_t begin = at + field.size() + 2;
    return xml.substr(begin, xml.find("</" + field + ">", begin) - begin);
}

std::string PathOf(const std::string& url) { return url.substr(url.find("/rel/")); }

}  // namespace

class DeltaRelease : public PublishedRelease {
protected:
    // A program built from C source: a rebuild with another constant changes it here and there.
    void BuildProgram(const std::string& version) {
        std::string src = "#include <stdio.h>\n";
        for (int i = 0; i < 1500; ++i)
            src += "int f" + std::to_string(i) + "(int x) { return x * " + std::to_string(i + 3) + " + " +
                   std::to_string(i % 7) + "; }\n";
        src += "int main(void) { printf(\"tool " + version + " %d\\n\", f17(2)); return 0; }\n";
        WriteFile(m_root / "tool.c", src);
        ASSERT_EQ(orvo::test::Run("cc -O1 -o '" + (m_root / "build/bin/tool") + "' '" + (m_root / "tool.c") + "'"), 0);
    }
    // Release 1 installed, release 2 (data changed in a few places, the program rebuilt) on the server.
    void InstallThenPublishSecond(size_t dataSize) {
        MakeDirs(m_root / "build/bin");
        WriteFile(m_root / "build/app.sh", TargetScript("1"));
        ::chmod((m_root / "build/app.sh").c_str(), 0755);
        m_data = RandomBytes(dataSize, 1);
        WriteFile(m_root / "build/data.bin", m_data);
        BuildProgram("1");
        Release("v1");
        std::string out;
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        ASSERT_EQ(ReadFile(Installed("data.bin")), m_data);

        m_data = ChangedInPlaces(m_data, 2);
        WriteFile(m_root / "build/data.bin", m_data);
        BuildProgram("2");
        Release("v2", m_root / "v1/app.xml");
        orvo::test::Run("truncate -s 0 '" + (m_root / "access.log") + "'");
    }
    void ExpectReleaseTwoInstalled() {
        EXPECT_TRUE(SameFileContent(Installed("data.bin"), m_root / "build/data.bin"));
        EXPECT_TRUE(SameFileContent(Installed("bin/tool"), m_root / "build/bin/tool"));
        EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/rel/app.xml"));
        std::string run;
        EXPECT_EQ(orvo::test::Run("'" + Installed("bin/tool") + "'", &run), 0);
        EXPECT_EQ(run, "tool 2 43\n");  // still a program, the new one
    }
    std::string Served(const std::string& url) const { return server.Root() + PathOf(url); }
    std::string m_data;
};

TEST_F(DeltaRelease, ChangedFilesComeAsDeltas) {
    InstallThenPublishSecond(24u << 20);
    const std::string manifest = ReadFile(m_root / "v2/app.xml");
    const std::string data = ItemOf(manifest, "data.bin"), tool = ItemOf(manifest, "tool");
    ASSERT_NE(FieldOf(data, "Deltas"), "") << data;
    ASSERT_NE(FieldOf(tool, "Deltas"), "") << tool;

    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    ExpectReleaseTwoInstalled();

    std::set<std::string> uris;
    uint64_t fetched = 0;
    for (const Fetch& f : Fetches(ReadFile(m_root / "access.log"))) {
        uris.insert(f.uri);
        if (f.uri.starts_with("/rel/delta/")) fetched += f.bytes;
    }
    const std::set<std::string> expected{"/rel/app.xml", "/rel/app.xml.sig", PathOf(FieldOf(FieldOf(data, "Deltas"), "DownloadUrl")),
                                         PathOf(FieldOf(FieldOf(tool, "Deltas"), "DownloadUrl"))};
    EXPECT_EQ(uris, expected);
    const uint64_t full = std::stoull(FieldOf(data, "PackageSize")) + std::stoull(FieldOf(tool, "PackageSize"));
    std::printf("release 1 -> 2: fetched %llu delta bytes for files whose packages hold %llu bytes (%.2f %%)\n",
                static_cast<unsigned long long>(fetched), static_cast<unsigned long long>(full), 100.0 * fetched / full);
}

// Each way a delta can fail: the update takes the full package of that file and succeeds.
enum class DeltaFault { DamagedBase, CutShort, Missing, WrongResult };

class DeltaFallback : public DeltaRelease, public ::testing::WithParamInterface<DeltaFault> {
protected:
    void Spoil(DeltaFault fault, const std::string& url) {
        switch (fault) {
            case DeltaFault::DamagedBase: {
                std::string installed = ReadFile(Installed("data.bin"));
                installed[1000] ^= 1;
                WriteFile(Installed("data.bin"), installed);
                break;
            }
            case DeltaFault::CutShort: ASSERT_EQ(::truncate(Served(url).c_str(), 100), 0); break;
            case DeltaFault::Missing: ASSERT_EQ(::unlink(Served(url).c_str()), 0); break;
            case DeltaFault::WrongResult: {
                // A sound delta from the same base to other bytes, announced with its own size
                // and hash in a manifest signed again: only the result's hash shows it.
                WriteFile(m_root / "build/data.bin", ChangedInPlaces(m_data, 3));
                Release("other", m_root / "v1/app.xml");
                WriteFile(m_root / "build/data.bin", m_data);
                const std::string other = FieldOf(ItemOf(ReadFile(m_root / "other/app.xml"), "data.bin"), "Deltas");
                const std::string rel = server.Root() + "/rel";
                ASSERT_EQ(orvo::test::Run("rm -rf '" + rel + "' && cp -r '" + (m_root / "v2") + "' '" + rel + "' && cp '" + (m_root / "other") +
                                          "/" + PathOf(FieldOf(other, "DownloadUrl")).substr(5) + "' '" + Served(url) + "'"),
                          0);
                std::string xml = ReadFile(rel + "/app.xml");
                const std::string mine = FieldOf(ItemOf(xml, "data.bin"), "Deltas");
                std::string spoiled = mine;
                const size_t from = spoiled.find("<Size>"), to = spoiled.find("</Sha256>");
                spoiled.replace(from, to - from, "<Size>" + FieldOf(other, "Size") + "</Size><Sha256>" + FieldOf(other, "Sha256"));
                xml.replace(xml.find(mine), mine.size(), spoiled);
                ::unlink((rel + "/app.xml").c_str());
                WriteFile(rel + "/app.xml", xml);
                ASSERT_EQ(Tool("sign '" + rel + "/app.xml' --key '" + (m_root / "vendor.key") + "'"), 0);
                orvo::test::Run("truncate -s 0 '" + (m_root / "access.log") + "'");
                break;
            }
        }
    }
};

TEST_P(DeltaFallback, TakesTheFullPackage) {
    InstallThenPublishSecond(2u << 20);
    const std::string manifest = ReadFile(m_root / "v2/app.xml");
    const std::string data = ItemOf(manifest, "data.bin");
    const std::string deltaUrl = FieldOf(FieldOf(data, "Deltas"), "DownloadUrl");
    ASSERT_NE(deltaUrl, "") << data;
    Spoil(GetParam(), deltaUrl);

    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    ExpectReleaseTwoInstalled();
    EXPECT_NE(out.find("delta [" + deltaUrl + "] not used"), std::string::npos) << out;
    std::set<std::string> uris;
    for (const Fetch& f : Fetches(ReadFile(m_root / "access.log"))) uris.insert(f.uri);
    EXPECT_EQ(uris.count(PathOf(FieldOf(data, "DownloadUrl"))), 1u);
    // A damaged base is found before anything is fetched.
    EXPECT_EQ(uris.count(PathOf(deltaUrl)), GetParam() == DeltaFault::DamagedBase ? 0u : 1u);
    // The other file's delta is still used.
    EXPECT_EQ(uris.count(PathOf(FieldOf(FieldOf(ItemOf(manifest, "tool"), "Deltas"), "DownloadUrl"))), 1u);
}

std::string FaultName(const ::testing::TestParamInfo<DeltaFault>& info) {
    static const char* const kNames[] = {"DamagedBase", "CutShort", "Missing", "WrongResult"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Faults, DeltaFallback,
                         ::testing::Values(DeltaFault::DamagedBase, DeltaFault::CutShort, DeltaFault::Missing, DeltaFault::WrongResult),
                         FaultName);
