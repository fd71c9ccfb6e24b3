#include "platform/firewall.h"

#include <windows.h>
#include <oleauto.h>
// The firewall's class and interface ids are defined here (the import library has none).
#include <initguid.h>
#include <netfw.h>

#include "platform/windows/win_util.h"

namespace platform {

namespace {

using win::ComPtr;

// A BSTR for one call.
struct Bstr {
    BSTR s;
    explicit Bstr(const std::wstring& text) : s(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { ::SysFreeString(s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

class NetFwProfile : public FirewallProfile {
public:
    explicit NetFwProfile(INetFwAuthorizedApplications* apps) : m_apps(apps) {}
    ~NetFwProfile() override { m_apps->Release(); }

    int32_t Item(const std::wstring& szImagePath, bool& bFound, bool& bEnabled) override {
        bFound = false;
        bEnabled = false;
        ComPtr<INetFwAuthorizedApplication> app;
        Bstr path(szImagePath);
        const HRESULT hr = m_apps->Item(path.s, &app);
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_OK;
        if (FAILED(hr)) return hr;
        bFound = true;
        VARIANT_BOOL enabled = VARIANT_FALSE;
        const HRESULT got = app->get_Enabled(&enabled);
        if (FAILED(got)) return got;
        bEnabled = enabled != VARIANT_FALSE;
        return S_OK;
    }

    int32_t Add(const std::wstring& szImagePath, const std::wstring& szName) override {
        if (szImagePath.empty()) return E_INVALIDARG;
        ComPtr<INetFwAuthorizedApplication> app;
        HRESULT hr = ::CoCreateInstance(CLSID_NetFwAuthorizedApplication, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_INetFwAuthorizedApplication, reinterpret_cast<void**>(&app));
        if (FAILED(hr)) return hr;
        Bstr path(szImagePath), name(szName);
        if (FAILED(hr = app->put_ProcessImageFileName(path.s))) return hr;
        if (FAILED(hr = app->put_Name(name.s))) return hr;
        if (FAILED(hr = app->put_Enabled(VARIANT_TRUE))) return hr;
        return m_apps->Add(app.p);
    }

private:
    INetFwAuthorizedApplications* m_apps;
};

}  // namespace

int32_t FirewallProfile::OpenCurrent(std::unique_ptr<FirewallProfile>& out) {
    out.reset();
    ComPtr<INetFwMgr> manager;
    HRESULT hr = ::CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                    reinterpret_cast<void**>(&manager));
    if (FAILED(hr)) return hr;
    ComPtr<INetFwPolicy> policy;
    if (FAILED(hr = manager->get_LocalPolicy(&policy))) return hr;
    ComPtr<INetFwProfile> profile;
    if (FAILED(hr = policy->get_CurrentProfile(&profile))) return hr;
    INetFwAuthorizedApplications* apps = nullptr;
    if (FAILED(hr = profile->get_AuthorizedApplications(&apps))) return hr;
    out = std::make_unique<NetFwProfile>(apps);
    return S_OK;
}

}  // namespace platform
