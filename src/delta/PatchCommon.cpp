#include "delta/Patch.h"

#include <bit>

#include "platform/fs.h"

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

std::optional<std::vector<std::byte>> ReadBase(const std::wstring& szPath, uint64_t nMaxBytes) {
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::Read) != 0) return std::nullopt;
    const auto size = file.Size();
    if (!size || *size > nMaxBytes) return std::nullopt;
    std::vector<std::byte> bytes(static_cast<size_t>(*size));
    for (size_t done = 0; done < bytes.size();) {
        const int64_t n = file.Read(bytes.data() + done, bytes.size() - done);
        if (n <= 0) return std::nullopt;
        done += static_cast<size_t>(n);
    }
    std::byte extra;
    if (file.Read(&extra, 1) != 0) return std::nullopt;
    return bytes;
}

}  // namespace delta
