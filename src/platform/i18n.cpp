#include "platform/i18n.h"

#include <cwchar>
#include <vector>

namespace platform {

namespace {

// Each conversion as its flags, width, precision, size and letter.
std::vector<std::wstring> Conversions(std::wstring_view fmt) {
    std::vector<std::wstring> out;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != L'%') continue;
        if (i + 1 < fmt.size() && fmt[i + 1] == L'%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < fmt.size() && std::wcschr(L"-+ #0123456789.*'hlLqjzt", fmt[j]) != nullptr) ++j;
        out.emplace_back(fmt.substr(i + 1, j < fmt.size() ? j - i : j - i - 1));
        i = j;
    }
    return out;
}

}  // namespace

bool SameConversions(std::wstring_view szFormat, std::wstring_view szOther) {
    return Conversions(szFormat) == Conversions(szOther);
}

}  // namespace platform
