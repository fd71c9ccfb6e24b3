// The release description a vendor writes (TOML): where the application installs, which
// folder token each build subfolder maps to, and the registry values, shortcuts, firewall
// entries, components and skin of the release.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "manifest/ManifestItems.h"

namespace publish {

// An error in the input; the message names the file (and line) at fault.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ReleaseConfig {
    std::string manifestName = "app.xml";
    std::string baseUrl;                  // packages are addressed below it
    std::optional<uint64_t> sequence;
    std::string expires;                  // UTC date-time, empty for none
    UpDater::RegistItem installEntry;     // the install-folder registry entry
    // Build subfolder ('/'-separated, "" for the top) → folder in the manifest (tokens allowed).
    std::map<std::string, std::wstring> folders;
    std::vector<std::wstring> componentExtensions;  // with their dot, lower case
    UpDater::RegistList registry;
    UpDater::ShortcutList shortcuts;
    UpDater::FirewallList firewall;
    std::string skinFile;    // absolute path of a skin page, empty for none
    std::string skinFolder;  // absolute path of a native skin's folder, empty for none
};

// Reads and checks the description; throws InputError naming the file and line.
ReleaseConfig ReadReleaseConfig(const std::string& path);

}  // namespace publish
