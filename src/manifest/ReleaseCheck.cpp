#include "manifest/ReleaseCheck.h"

#include <chrono>

#include "platform/strings.h"

namespace UpDater {

namespace {

bool Digits(std::wstring_view s) {
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

int Number(std::wstring_view s) {
    int n = 0;
    for (wchar_t c : s) n = n * 10 + (c - L'0');
    return n;
}

}  // namespace

std::optional<uint64_t> ParseSequence(std::wstring_view szText) {
    if (!Digits(szText) || szText.size() > 19) return std::nullopt;
    uint64_t n = 0;
    for (wchar_t c : szText) n = n * 10 + static_cast<uint64_t>(c - L'0');
    return n;
}

std::optional<int64_t> ParseUtcTime(std::wstring_view s) {
    // 2026-12-31T23:59:59Z
    if (s.size() != 20 || s[4] != L'-' || s[7] != L'-' || s[10] != L'T' || s[13] != L':' || s[16] != L':' || s[19] != L'Z')
        return std::nullopt;
    const std::wstring_view parts[] = {s.substr(0, 4), s.substr(5, 2), s.substr(8, 2), s.substr(11, 2), s.substr(14, 2),
                                       s.substr(17, 2)};
    for (auto p : parts)
        if (!Digits(p)) return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{year{Number(parts[0])}, month{static_cast<unsigned>(Number(parts[1]))},
                              day{static_cast<unsigned>(Number(parts[2]))}};
    const int h = Number(parts[3]), m = Number(parts[4]), sec = Number(parts[5]);
    if (!date.ok() || h > 23 || m > 59 || sec > 59) return std::nullopt;
    return static_cast<int64_t>(sys_days{date}.time_since_epoch().count()) * 86400 + h * 3600 + m * 60 + sec;
}

std::optional<uint64_t> ReadSequence(const XmlNode* pRoot) {
    bool found = false;
    const std::wstring text = ChildText(pRoot, L"Sequence", &found);
    if (!found) return 0;
    return ParseSequence(text);
}

std::wstring CheckReleaseOrder(const XmlNode* pRoot, uint64_t nAppliedSequence, int64_t nNow) {
    const auto sequence = ReadSequence(pRoot);
    if (!sequence) return L"Sequence [" + ChildText(pRoot, L"Sequence") + L"] is not a release number";
    if (*sequence < nAppliedSequence)
        return platform::FormatW(L"Sequence %llu is older than the release applied last (%llu)",
                                 static_cast<unsigned long long>(*sequence), static_cast<unsigned long long>(nAppliedSequence));
    bool found = false;
    const std::wstring expires = ChildText(pRoot, L"Expires", &found);
    if (found) {
        const auto when = ParseUtcTime(expires);
        if (!when) return L"Expires [" + expires + L"] is not a UTC date-time (YYYY-MM-DDTHH:MM:SSZ)";
        if (*when <= nNow) return L"the manifest expired at " + expires;
    }
    return {};
}

}  // namespace UpDater
