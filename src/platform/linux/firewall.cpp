#include "platform/firewall.h"

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace platform {

namespace {

int32_t HResultFromWin32(uint32_t nError) {
    return nError == 0 ? 0 : static_cast<int32_t>(0x80070000u | (nError & 0xFFFFu));
}

// Looks a program up in one list key.
int32_t LookUp(const RegKey& key, const std::wstring& szImagePath, bool& bFound, bool& bEnabled) {
    bFound = false;
    bEnabled = false;
    RegValue value;
    const uint32_t err = key.QueryValue(szImagePath, value);
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

class RegistryFirewallProfile : public FirewallProfile {
public:
    // Entries are added to `key`; `machine`, when open, is the machine's list read as well.
    explicit RegistryFirewallProfile(RegKey key, RegKey machine = RegKey()) : m_key(std::move(key)), m_machine(std::move(machine)) {}

    int32_t Item(const std::wstring& szGivenPath, bool& bFound, bool& bEnabled) override {
        // Programs are listed under their native path, whichever separators the caller used.
        const std::wstring szImagePath = FromNativePath(ToNativePath(szGivenPath));
        const int32_t hr = LookUp(m_key, szImagePath, bFound, bEnabled);
        if (hr != 0 || bEnabled || !m_machine.IsOpen()) return hr;
        bool bMachineFound = false, bMachineEnabled = false;
        if (LookUp(m_machine, szImagePath, bMachineFound, bMachineEnabled) == 0 && bMachineEnabled) {
            bFound = true;
            bEnabled = true;
        }
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
    RegKey m_machine;
};

}  // namespace

int32_t FirewallProfile::OpenCurrent(std::unique_ptr<FirewallProfile>& out) {
    out.reset();
    RegKey key;
    const uint32_t err = RegKey::Create(RootLocalMachine, kFirewallListKey, key);
    if (err == 0) {
        out = std::make_unique<RegistryFirewallProfile>(std::move(key));
        return 0;
    }
    // A per-user installation cannot write the machine's list: its programs are listed in the
    // user's hive, so that the run still completes (the machine's list is still read). Its folder
    // may also be missing and not creatable (something else stands on the way).
    if (err == ERROR_ACCESS_DENIED_ || err == ERROR_WRITE_PROTECT_ || err == ERROR_PATH_NOT_FOUND_) {
        RegKey user;
        if (RegKey::Create(RootCurrentUser, kFirewallListKey, user) == 0) {
            OutputDebug(L"[OVUSVC] firewall list: the machine hive cannot be written; entries go to the user's hive\n");
            RegKey machine;
            RegKey::Open(RootLocalMachine, kFirewallListKey, RegAccess::Read, machine);
            out = std::make_unique<RegistryFirewallProfile>(std::move(user), std::move(machine));
            return 0;
        }
    }
    return HResultFromWin32(err);
}

}  // namespace platform
