// The commands of orvo-publish: build a release folder, make a key pair, sign a manifest.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace publish {

struct BuildOptions {
    std::string config;    // release description (TOML)
    std::string from;      // build folder
    std::string out;       // release folder to create
    std::string previous;  // manifest of the previous release, optional
    std::string baseUrl;   // overrides the description's
    std::string key;       // secret key to sign with, optional
    std::string previousFiles;  // earlier builds to make deltas from, optional
    size_t deltaReleases = 1;   // earlier versions of each file to make deltas from
    bool dryRun = false;
    bool firstRelease = false;  // a signed release with no release before it: Sequence 1
    bool allowExpired = false;  // publish even when release.expires is past
};

// What clients of the previous release will fetch.
struct UpdateSummary {
    size_t files = 0;      // files of the new release
    size_t download = 0;   // of them new or changed
    uint64_t downloadBytes = 0;  // package bytes of those
    uint64_t deltaBytes = 0;     // what they fetch where a delta from their version is offered
    size_t removed = 0;    // files of the previous release that are gone
};

// Each throws InputError (naming the bad input) on failure.
void BuildRelease(const BuildOptions& options, std::ostream& report);
void MakeKeyPair(const std::string& base, std::ostream& report);
void SignFile(const std::string& file, const std::string& keyFile, const std::string& trustedComment, bool allowExpired, std::ostream& report);

}  // namespace publish
