#include "delta/Patch.h"

#include <bit>

namespace delta {

int WindowLogFor(uint64_t nBaseSize, uint64_t nTargetSize) {
    const uint64_t span = nBaseSize + nTargetSize;
    if (span > kMaxSpan) return 0;
    // The smallest power of two not below the span, and never under the library's minimum.
    const int log = span <= 1 ? 0 : static_cast<int>(std::bit_width(span - 1));
    return log < 10 ? 10 : log;
}

const wchar_t* ApplyResultText(ApplyResult result) {
    switch (result) {
        case ApplyResult::Ok: return L"applied";
        case ApplyResult::Unavailable: return L"no delta support in this build";
        case ApplyResult::TooLarge: return L"too large";
        case ApplyResult::Unreadable: return L"delta unreadable";
        case ApplyResult::Damaged: return L"delta damaged or made against another base";
        case ApplyResult::SinkFailed: return L"result not written";
    }
    return L"?";
}

}  // namespace delta
