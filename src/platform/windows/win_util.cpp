#include "platform/windows/win_util.h"

namespace platform::win {

std::wstring NativePath(const std::wstring& szPath) {
    std::wstring p = szPath;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    return p;
}

}  // namespace platform::win
