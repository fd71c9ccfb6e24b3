#include "platform/registry.h"

#include <windows.h>

#include <algorithm>

#include "platform/strings.h"

namespace platform {

namespace {

std::optional<HKEY> RootHandle(uint32_t hRoot) {
    switch (hRoot) {
        case RootClassesRoot: return HKEY_CLASSES_ROOT;
        case RootCurrentUser: return HKEY_CURRENT_USER;
        case RootLocalMachine: return HKEY_LOCAL_MACHINE;
        case RootUsers: return HKEY_USERS;
        case RootCurrentConfig: return HKEY_CURRENT_CONFIG;
        default: return std::nullopt;
    }
}

bool ByName(const std::wstring& a, const std::wstring& b) { return CompareNoCase(a, b) < 0; }

// Installations made by the 32-bit updater keep their values in the 32-bit view; a 64-bit build
// asks for that view so that it finds them (on 32-bit Windows the flag is ignored).
constexpr REGSAM kView = KEY_WOW64_32KEY;

}  // namespace

struct RegKey::Impl {
    HKEY hKey = nullptr;
    ~Impl() {
        if (hKey != nullptr) ::RegCloseKey(hKey);
    }
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;

bool RegKey::IsOpen() const { return m_impl != nullptr; }
void RegKey::Close() { m_impl.reset(); }

uint32_t RegKey::Open(uint32_t hRoot, const std::wstring& szPath, RegAccess access, RegKey& out) {
    out.Close();
    const auto root = RootHandle(hRoot);
    if (!root) return ERROR_INVALID_HANDLE_;
    const auto path = NormalizeRegKeyPath(szPath);
    if (!path) return ERROR_BAD_PATHNAME_;
    const REGSAM sam = (access == RegAccess::Write ? (KEY_READ | KEY_WRITE) : KEY_READ) | kView;
    auto impl = std::make_unique<Impl>();
    if (LSTATUS err = ::RegOpenKeyExW(*root, path->c_str(), 0, sam, &impl->hKey)) return static_cast<uint32_t>(err);
    out.m_impl = std::move(impl);
    return 0;
}

uint32_t RegKey::Create(uint32_t hRoot, const std::wstring& szPath, RegKey& out) {
    out.Close();
    const auto root = RootHandle(hRoot);
    if (!root) return ERROR_INVALID_HANDLE_;
    const auto path = NormalizeRegKeyPath(szPath);
    if (!path) return ERROR_BAD_PATHNAME_;
    auto impl = std::make_unique<Impl>();
    if (LSTATUS err = ::RegCreateKeyExW(*root, path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | kView,
                                        nullptr, &impl->hKey, nullptr))
        return static_cast<uint32_t>(err);
    out.m_impl = std::move(impl);
    return 0;
}

uint32_t RegKey::DeleteTree(uint32_t hRoot, const std::wstring& szPath) {
    const auto root = RootHandle(hRoot);
    if (!root) return ERROR_INVALID_HANDLE_;
    const auto path = NormalizeRegKeyPath(szPath);
    if (!path) return ERROR_BAD_PATHNAME_;
    // An empty path empties the root key itself, which stays.
    if (path->empty()) return static_cast<uint32_t>(::RegDeleteTreeW(*root, nullptr));
    // The tree is emptied through a handle of the 32-bit view, then the key itself goes.
    HKEY key = nullptr;
    if (LSTATUS err = ::RegOpenKeyExW(*root, path->c_str(), 0, KEY_READ | KEY_WRITE | DELETE | kView, &key))
        return static_cast<uint32_t>(err);
    LSTATUS err = ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
    if (err == ERROR_SUCCESS) err = ::RegDeleteKeyExW(*root, path->c_str(), kView, 0);
    return static_cast<uint32_t>(err);
}

uint32_t RegKey::QueryValue(const std::wstring& szName, RegValue& out) const {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    DWORD type = 0, size = 0;
    LSTATUS err = ::RegQueryValueExW(m_impl->hKey, szName.c_str(), nullptr, &type, nullptr, &size);
    std::vector<std::byte> data;
    while (err == ERROR_SUCCESS || err == ERROR_MORE_DATA) {
        data.resize(size);
        err = ::RegQueryValueExW(m_impl->hKey, szName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                 &size);
        if (err == ERROR_SUCCESS) break;
    }
    if (err != ERROR_SUCCESS) return static_cast<uint32_t>(err);
    data.resize(size);
    // The value's own spelling, as the store keeps it.
    out.name = szName;
    for (const auto& v : Values())
        if (EqualsNoCase(v.name, szName)) out.name = v.name;
    out.type = type;
    out.data = std::move(data);
    return 0;
}

uint32_t RegKey::SetValue(const std::wstring& szName, uint32_t nType, std::span<const std::byte> data) {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    return static_cast<uint32_t>(::RegSetValueExW(m_impl->hKey, szName.c_str(), 0, nType,
                                                  reinterpret_cast<const BYTE*>(data.data()),
                                                  static_cast<DWORD>(data.size())));
}

uint32_t RegKey::DeleteValue(const std::wstring& szName) {
    if (!m_impl) return ERROR_INVALID_HANDLE_;
    return static_cast<uint32_t>(::RegDeleteValueW(m_impl->hKey, szName.c_str()));
}

std::vector<std::wstring> RegKey::SubKeys() const {
    std::vector<std::wstring> out;
    if (!m_impl) return out;
    // Key names are at most 255 characters.
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        const LSTATUS err = ::RegEnumKeyExW(m_impl->hKey, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (err != ERROR_SUCCESS) break;
        out.emplace_back(name, len);
    }
    std::sort(out.begin(), out.end(), ByName);
    return out;
}

std::vector<RegValue> RegKey::Values() const {
    std::vector<RegValue> out;
    if (!m_impl) return out;
    DWORD maxName = 0, maxData = 0;
    if (::RegQueryInfoKeyW(m_impl->hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                           &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return out;
    std::vector<wchar_t> name(maxName + 1);
    std::vector<std::byte> data(maxData);
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size()), type = 0;
        LSTATUS err = ::RegEnumValueW(m_impl->hKey, i, name.data(), &nameLen, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &dataLen);
        if (err == ERROR_MORE_DATA) {  // grew since the key was asked
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<size_t>(data.size() * 2, dataLen));
            --i;
            continue;
        }
        if (err != ERROR_SUCCESS) break;
        out.push_back({std::wstring(name.data(), nameLen), type,
                       std::vector<std::byte>(data.begin(), data.begin() + dataLen)});
    }
    std::sort(out.begin(), out.end(), [](const RegValue& a, const RegValue& b) { return ByName(a.name, b.name); });
    return out;
}

}  // namespace platform
