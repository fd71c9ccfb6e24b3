#include "platform/firewall.h"

#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace platform {

namespace {

int32_t HResultFromWin32(uint32_t nError) {
    return nError == 0 ? 0 : static_cast<int32_t>(0x80070000u | (nError & 0xFFFFu));
}

class RegistryFirewallProfile : public FirewallProfile {
public:
    explicit RegistryFirewallProfile(RegKey key) : m_key(std::move(key)) {}

    int32_t Item(const std::wstring& szGivenPath, bool& bFound, bool& bEnabled) override {
        // Programs are listed under their native path, whichever separators the caller used.
        const std::wstring szImagePath = FromNativePath(ToNativePath(szGivenPath));
        bFound = false;
        bEnabled = false;
        RegValue value;
        const uint32_t err = m_key.QueryValue(szImagePath, value);
        if (err == ERROR_FILE_NOT_FOUND_) return 0;
        if (err != 0) return HResultFromWin32(err);
        bFound = true;
        // "<path>:*:Enabled:<name>"; the path is the value's name, so it is skipped by length
        // (it may hold ':' itself).
        const std::wstring data = DecodeRegString(value.data);
        const size_t prefix = szImagePath.size() + 3;
        if (value.type != REG_SZ_ || data.size() < prefix || !EqualsNoCase(data.substr(0, szImagePath.size()), szImagePath) ||
            data.compare(szImagePath.size(), 3, L":*:") != 0) {
            return 0;  // listed, but not in a form that says "enabled"
        }
        bEnabled = data.substr(prefix, data.find(L':', prefix) - prefix) == L"Enabled";
        return 0;
    }

    int32_t Add(const std::wstring& szGivenPath, const std::wstring& szName) override {
        const std::wstring szImagePath = FromNativePath(ToNativePath(szGivenPath));
        if (szImagePath.empty()) return static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
        const auto data = EncodeRegString(szImagePath + L":*:Enabled:" + szName);
        return HResultFromWin32(m_key.SetValue(szImagePath, REG_SZ_, data));
    }

private:
    RegKey m_key;
};

}  // namespace

int32_t FirewallProfile::OpenCurrent(std::unique_ptr<FirewallProfile>& out) {
    out.reset();
    RegKey key;
    if (const uint32_t err = RegKey::Create(RootLocalMachine, kFirewallListKey, key)) {
        return HResultFromWin32(err);
    }
    out = std::make_unique<RegistryFirewallProfile>(std::move(key));
    return 0;
}

}  // namespace platform
