// Authorising applications on the firewall's list of the current profile.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/firewall.h"

class CWindowsFirewall {
public:
    virtual ~CWindowsFirewall() {}
    // The current profile; null until opened.
    std::unique_ptr<platform::FirewallProfile> m_pProfile;
};

// Opens the current profile; an HRESULT, failing when the firewall manager is unavailable.
int32_t WindowsFirewallOpenProfile(std::unique_ptr<platform::FirewallProfile>& profile);
// nEnabled is 1 only when the path is listed and its entry is enabled.
int32_t WindowsFirewallAppIsEnabled(CWindowsFirewall* pFirewall, int& nEnabled, const std::wstring& szImagePath);
// Adds the application unless it is listed and enabled already; an empty name adds nothing
// (E_OUTOFMEMORY, as an empty system string is taken for a failed allocation).
int32_t WindowsFirewallAuthorizeApp(const std::wstring& szImagePath, CWindowsFirewall* pFirewall,
                                    const std::wstring& szName);
