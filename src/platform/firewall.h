// The firewall's list of authorised applications of the current profile.
// Windows: INetFwMgr -> local policy -> current profile -> authorised applications.
// Linux: the list lives in the machine registry hive under kFirewallListKey, one REG_SZ value
// per application named by its image path and holding "<path>:*:Enabled:<name>" (or
// "Disabled"); it can be read with the registry tools. When the machine hive may not be written
// (a per-user installation), entries go to the same key in the user's hive (with a debug line)
// and the machine's list is still read; the firewall manager counts as unavailable when neither
// can be opened for writing. As in the registry, paths compare without letter case.
// Both: results are HRESULTs (0 success); entries are only looked up and added, never removed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

inline constexpr const wchar_t* kFirewallListKey =
    L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile"
    L"\\AuthorizedApplications\\List";

class FirewallProfile {
public:
    // The current profile, or an error when the firewall manager is unavailable.
    static int32_t OpenCurrent(std::unique_ptr<FirewallProfile>& out);
    virtual ~FirewallProfile() = default;

    // Success with bFound false when the path is not listed; bEnabled only for a listed entry.
    virtual int32_t Item(const std::wstring& szImagePath, bool& bFound, bool& bEnabled) = 0;
    // Adds the application, enabled, replacing an entry with the same path.
    virtual int32_t Add(const std::wstring& szImagePath, const std::wstring& szName) = 0;
};

}  // namespace platform
