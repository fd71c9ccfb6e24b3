// The manifest text of a release, from the updater's own records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "manifest/ManifestItems.h"

namespace publish {

struct ReleaseManifest {
    std::optional<uint64_t> sequence;
    std::string expires;  // empty for none
    UpDater::UpdateList files;
    UpDater::RegistList registry;  // the install-folder entry first
    UpDater::ShortcutList shortcuts;
    UpDater::FirewallList firewall;
    std::optional<UpDater::SkinItem> skin;
};

// UTF-8 XML with every section (empty ones included), one item per line.
std::string FormatManifest(const ReleaseManifest& m);

}  // namespace publish
