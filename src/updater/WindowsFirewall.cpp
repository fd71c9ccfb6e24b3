#include "updater/WindowsFirewall.h"

#include "platform/com.h"

namespace {
constexpr int32_t E_POINTER_ = static_cast<int32_t>(0x80004003u);
}

int32_t WindowsFirewallOpenProfile(std::unique_ptr<platform::FirewallProfile>& profile) {
    profile.reset();
    return platform::FirewallProfile::OpenCurrent(profile);
}

int32_t WindowsFirewallAppIsEnabled(CWindowsFirewall* pFirewall, int& nEnabled, const std::wstring& szImagePath) {
    nEnabled = 0;
    if (pFirewall == nullptr || !pFirewall->m_pProfile) return E_POINTER_;
    bool bFound = false;
    bool bEnabled = false;
    const int32_t hr = pFirewall->m_pProfile->Item(szImagePath, bFound, bEnabled);
    if (!platform::Succeeded(hr)) return hr;
    nEnabled = bFound && bEnabled ? 1 : 0;
    return platform::S_OK_;
}

int32_t WindowsFirewallAuthorizeApp(const std::wstring& szImagePath, CWindowsFirewall* pFirewall,
                                    const std::wstring& szName) {
    int nEnabled = 0;
    const int32_t hr = WindowsFirewallAppIsEnabled(pFirewall, nEnabled, szImagePath);
    if (!platform::Succeeded(hr)) return hr;
    if (nEnabled) return platform::S_OK_;
    if (szName.empty()) return platform::E_OUTOFMEMORY_;
    return pFirewall->m_pProfile->Add(szImagePath, szName);
}
