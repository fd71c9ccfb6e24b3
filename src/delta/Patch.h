// Binary deltas: the new version of a file compressed against the old one, which both sides
// hold. Making one needs both versions in memory, and so does applying one.
// Linux: libzstd. Windows: no delta backend yet; Available() is false and nothing is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace delta {

// Whether this build can make and apply deltas.
bool Available();

// Largest old + new size a delta is made or applied for: the window spans both, and the
// applying side holds the old version and the window in memory.
inline constexpr uint64_t kMaxSpan = uint64_t{1} << 30;

// The window (as a power of two) that reaches from the end of the new version back over all
// of the old one; 0 when the span exceeds kMaxSpan.
int WindowLogFor(uint64_t nBaseSize, uint64_t nTargetSize);

// The delta from base to target at the given compression level; nullopt when the span is too
// large or the library fails.
std::optional<std::vector<std::byte>> MakePatch(std::span<const std::byte> base, std::span<const std::byte> target, int nLevel);

enum class ApplyResult {
    Ok,
    Unavailable,   // no delta backend in this build
    TooLarge,      // the span exceeds kMaxSpan, or the result would exceed the expected size
    Unreadable,    // the delta file cannot be read
    Damaged,       // not a delta, cut short, or made against another base
    SinkFailed,    // the output could not be written
};

// Applies the delta file to base, handing the result to sink in pieces; the result must be
// exactly nExpectedSize bytes. Holds the delta and the result in memory beside base; a frame
// whose window exceeds what the two sizes need is refused.
ApplyResult ApplyPatch(std::span<const std::byte> base, const std::wstring& szPatch, uint64_t nExpectedSize,
                       const std::function<bool(std::span<const std::byte>)>& sink);

const wchar_t* ApplyResultText(ApplyResult result);

// The old version read whole, when it has at most nMaxBytes (and did not grow while read).
std::optional<std::vector<std::byte>> ReadBase(const std::wstring& szPath, uint64_t nMaxBytes);

}  // namespace delta
