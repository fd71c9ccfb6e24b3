#include "platform/registry.h"

#include "platform/strings.h"

namespace platform {

std::vector<std::byte> EncodeRegString(const std::wstring& szText) {
    std::vector<std::byte> out;
    out.reserve((szText.size() + 1) * 2);
    auto put = [&](uint32_t u) {
        out.push_back(static_cast<std::byte>(u & 0xFF));
        out.push_back(static_cast<std::byte>((u >> 8) & 0xFF));
    };
    for (wchar_t c : szText) {
        uint32_t cp = static_cast<uint32_t>(c);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

std::wstring DecodeRegString(std::span<const std::byte> data) {
    std::wstring out;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        uint32_t u = static_cast<uint32_t>(data[i]) | (static_cast<uint32_t>(data[i + 1]) << 8);
        if (u == 0) break;
        if constexpr (sizeof(wchar_t) == 4) {
            if (u >= 0xD800 && u <= 0xDBFF && i + 3 < data.size()) {
                uint32_t lo = static_cast<uint32_t>(data[i + 2]) | (static_cast<uint32_t>(data[i + 3]) << 8);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                    i += 2;
                }
            }
        }
        out += static_cast<wchar_t>(u);
    }
    return out;
}

std::vector<std::byte> EncodeRegDword(uint32_t nValue) {
    return {static_cast<std::byte>(nValue & 0xFF), static_cast<std::byte>((nValue >> 8) & 0xFF),
            static_cast<std::byte>((nValue >> 16) & 0xFF), static_cast<std::byte>(nValue >> 24)};
}

std::optional<uint32_t> DecodeRegDword(std::span<const std::byte> data) {
    if (data.size() < 4) return std::nullopt;
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

std::optional<std::wstring> NormalizeRegKeyPath(const std::wstring& szPath) {
    std::wstring p = TrimRight(szPath, L"\\");
    if (!p.empty() && p.front() == L'\\') return std::nullopt;
    if (p.find(L"\\\\") != std::wstring::npos) return std::nullopt;
    return p;
}

namespace {
struct RootName {
    uint32_t root;
    const wchar_t* longName;
    const wchar_t* shortName;
};
constexpr RootName kRoots[] = {
    {RootClassesRoot, L"HKEY_CLASSES_ROOT", L"HKCR"},   {RootCurrentUser, L"HKEY_CURRENT_USER", L"HKCU"},
    {RootLocalMachine, L"HKEY_LOCAL_MACHINE", L"HKLM"}, {RootUsers, L"HKEY_USERS", L"HKU"},
    {RootCurrentConfig, L"HKEY_CURRENT_CONFIG", L"HKCC"},
};
}  // namespace

std::wstring RootKeyName(uint32_t hRoot) {
    for (const auto& r : kRoots)
        if (r.root == hRoot) return r.longName;
    return FormatW(L"0x%08X", hRoot);
}

std::optional<uint32_t> ParseRootKeyName(const std::wstring& szName) {
    for (const auto& r : kRoots)
        if (EqualsNoCase(szName, r.longName) || EqualsNoCase(szName, r.shortName)) return r.root;
    return std::nullopt;
}

}  // namespace platform
