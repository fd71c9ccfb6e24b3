#include "delta/Patch.h"

namespace delta {

bool Available() { return false; }

std::optional<std::vector<std::byte>> MakePatch(std::span<const std::byte>, std::span<const std::byte>, int) {
    return std::nullopt;
}

ApplyResult ApplyPatch(std::span<const std::byte>, const std::wstring&, uint64_t, const std::function<bool(std::span<const std::byte>)>&) {
    return ApplyResult::Unavailable;
}

}  // namespace delta
