#include "zip/ZipPathComponent.h"

#include <array>

#include "platform/strings.h"

namespace {

bool StartsWithNoCase(const std::wstring& text, std::wstring_view head) {
    return text.size() >= head.size() && platform::EqualsNoCase(std::wstring_view(text).substr(0, head.size()), head);
}

bool IsDeviceName(std::wstring_view component) {
    // Windows opens these devices whatever the folder or extension.
    const auto dot = component.find(L'.');
    const std::wstring base = platform::ToLower(component.substr(0, dot));
    static constexpr std::array<std::wstring_view, 6> kPlain = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (auto d : kPlain)
        if (base == d) return true;
    if (base.size() == 4 && (base.starts_with(L"com") || base.starts_with(L"lpt")) && base[3] >= L'0' && base[3] <= L'9')
        return true;
    return false;
}

}  // namespace

void CZipPathComponent::SetFullPath(const std::wstring& szFullPath) {
    m_szPrefix.clear();
    m_szDrive.clear();
    m_szDirectory.clear();
    m_szFileTitle.clear();
    m_szFileExt.clear();
    m_szFileName.clear();

    std::wstring path = szFullPath;
    for (auto& c : path)
        if (c == L'/') c = L'\\';

    size_t pos = 0;
    if (StartsWithNoCase(path, L"\\\\?\\unc\\"))
        pos = 8;
    else if (StartsWithNoCase(path, L"\\\\?\\"))
        pos = 4;
    else if (StartsWithNoCase(path, L"\\\\"))
        pos = 2;
    m_szPrefix = path.substr(0, pos);
    if (path.size() >= pos + 2 && path[pos + 1] == L':' &&
        ((path[pos] >= L'a' && path[pos] <= L'z') || (path[pos] >= L'A' && path[pos] <= L'Z'))) {
        m_szDrive = path.substr(pos, 2);
        pos += 2;
    }
    const std::wstring rest = path.substr(pos);
    const auto slash = rest.find_last_of(L'\\');
    std::wstring name;
    if (slash == std::wstring::npos) {
        name = rest;
    } else {
        m_szDirectory = RemoveSeparatorsLeft(RemoveSeparators(rest.substr(0, slash)));
        name = rest.substr(slash + 1);
    }
    m_szFileName = name;
    const auto dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos) {
        m_szFileTitle = name;
    } else {
        m_szFileTitle = name.substr(0, dot);
        m_szFileExt = name.substr(dot + 1);
    }
}

std::wstring CZipPathComponent::GetNoDrive() const {
    const std::wstring& name = m_szFileName;
    if (m_szDirectory.empty()) return name;
    return m_szDirectory + L"\\" + name;
}

std::wstring CZipPathComponent::RemoveSeparators(const std::wstring& szPath) {
    size_t n = szPath.size();
    while (n > 0 && IsSeparator(szPath[n - 1])) --n;
    return szPath.substr(0, n);
}

std::wstring CZipPathComponent::RemoveSeparatorsLeft(const std::wstring& szPath) {
    size_t n = 0;
    while (n < szPath.size() && IsSeparator(szPath[n])) ++n;
    return szPath.substr(n);
}

std::optional<std::wstring> CZipPathComponent::MakeSafeRelative(const std::wstring& szName) {
    const CZipPathComponent split(RemoveSeparators(szName));
    const std::wstring relative = split.GetNoDrive();
    std::wstring out;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) end = relative.size();
        const std::wstring_view part = std::wstring_view(relative).substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == L".") continue;
        if (part == L"..") return std::nullopt;
        for (wchar_t c : part)
            if (c < 0x20 || c == 0x7F || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' ||
                c == L'|')
                return std::nullopt;
        if (part.back() == L'.' || part.back() == L' ') return std::nullopt;
        if (IsDeviceName(part)) return std::nullopt;
        if (!out.empty()) out += L'\\';
        out += part;
    }
    return out;
}
