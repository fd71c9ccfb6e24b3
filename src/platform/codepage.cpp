#include "platform/codepage.h"

namespace platform {

// Text that does not convert is passed on unchanged.
std::string OemToAnsi(std::string_view szText) {
    auto wide = MultiByteToWide(CP_OEMCP, szText);
    if (!wide) return std::string(szText);
    auto ansi = WideToMultiByte(CP_ACP, *wide);
    return ansi ? *ansi : std::string(szText);
}

}  // namespace platform
