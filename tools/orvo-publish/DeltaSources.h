// Where the publisher finds the earlier versions of a file to make deltas from: the previous
// release's own package of it, and the builds kept in a folder of previous builds.
#pragma once

#include <string>
#include <vector>

#include "manifest/ManifestItems.h"
#include "orvo-publish/DeltaMaker.h"

namespace publish {

struct DeltaSources {
    std::string previousRelease;  // folder of the previous manifest (its packages below it)
    std::string previousFiles;    // --previous-files: a build, or a folder of builds (one per subfolder)
    size_t releases = 1;          // --delta-releases: how many earlier versions of each file
};

// Up to sources.releases distinct earlier versions of the file at rel (relative to the build
// folder), newest first: the previous release's (when it had the file with another content),
// then the builds of previousFiles (the folder itself, then its subfolders, last name first).
// A version the same as the new one (newSha256) is skipped; so is one that cannot be read or
// does not match its manifest.
std::vector<DeltaBase> FindDeltaBases(const DeltaSources& sources, const UpDater::UpdateItem* previousItem, const std::string& rel,
                                      const std::string& newSha256);

}  // namespace publish
