#include "platform/errors.h"

namespace platform {

uint32_t TranslateSystemError(int64_t nSystemError) {
    const auto value = static_cast<uint32_t>(nSystemError);
    // An HRESULT of the Win32 facility (0x8007xxxx) carries a Win32 number in its low word.
    if ((value & 0xFFFF0000u) == 0x80070000u) return value & 0xFFFFu;
    return value;
}

}  // namespace platform
