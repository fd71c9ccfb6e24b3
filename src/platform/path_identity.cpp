#include "platform/path_identity.h"

namespace platform {

std::wstring PathIdentity(const std::wstring& szPath) {
    std::wstring key;
    key.reserve(szPath.size());
    size_t i = 0;
    while (i < szPath.size()) {
        const bool sep = szPath[i] == L'\\' || szPath[i] == L'/';
        if (!sep) {
            key += szPath[i++];
            continue;
        }
        while (i < szPath.size() && (szPath[i] == L'\\' || szPath[i] == L'/')) ++i;
        // A "." component names the folder it is in.
        while (i < szPath.size() && szPath[i] == L'.' &&
               (i + 1 == szPath.size() || szPath[i + 1] == L'\\' || szPath[i + 1] == L'/')) {
            ++i;
            while (i < szPath.size() && (szPath[i] == L'\\' || szPath[i] == L'/')) ++i;
        }
        if (i < szPath.size() || key.empty()) key += L'/';
    }
    return FoldPathCase(std::move(key));
}

}  // namespace platform
