#include "platform/errors.h"

#include "platform/i18n.h"
#include "platform/strings.h"

namespace platform {

const ErrorEntry* FindError(uint32_t nCode) {
    for (const ErrorEntry& entry : kErrorTable)
        if (entry.code == nCode) return &entry;
    return nullptr;
}

std::string ErrorName(uint32_t nCode) {
    if (const ErrorEntry* entry = FindError(nCode)) return entry->name;
    return "error " + std::to_string(nCode);
}

std::wstring ErrorSentence(uint32_t nCode) {
    if (const ErrorEntry* entry = FindError(nCode)) return Translate(entry->sentence);
    return FormatW(Translate(L"an unexpected system error (number %u)").c_str(), static_cast<unsigned>(nCode));
}

std::wstring DescribeError(const SystemError& error) {
    const std::wstring name = FromUtf8(ErrorName(error.code));
    if (error.native == static_cast<int64_t>(error.code)) return FormatW(L"%s (%u)", name, static_cast<unsigned>(error.code));
    return FormatW(L"%s (%u, system error %lld)", name, static_cast<unsigned>(error.code), static_cast<long long>(error.native));
}

}  // namespace platform
