#include <zstd.h>

#include <algorithm>
#include <memory>

#include "delta/Patch.h"
#include "platform/fs.h"

namespace delta {

namespace {

struct CCtxFree {
    void operator()(ZSTD_CCtx* p) const { ZSTD_freeCCtx(p); }
};
struct DCtxFree {
    void operator()(ZSTD_DCtx* p) const { ZSTD_freeDCtx(p); }
};

bool Ok(size_t code) { return ZSTD_isError(code) == 0; }

}  // namespace

bool Available() { return true; }

std::optional<std::vector<std::byte>> MakePatch(std::span<const std::byte> base, std::span<const std::byte> target, int nLevel) {
    const int windowLog = WindowLogFor(base.size(), target.size());
    if (windowLog == 0) return std::nullopt;
    std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
    if (!cctx) return std::nullopt;
    // Long-distance matching finds the old version's runs wherever they moved to; the window
    // must reach the start of the old version from the end of the new one.
    if (!Ok(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, nLevel)) ||
        !Ok(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_windowLog, windowLog)) ||
        !Ok(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_enableLongDistanceMatching, 1)) ||
        !Ok(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_checksumFlag, 1)) ||
        !Ok(ZSTD_CCtx_setPledgedSrcSize(cctx.get(), target.size())) ||
        !Ok(ZSTD_CCtx_refPrefix(cctx.get(), base.data(), base.size())))
        return std::nullopt;
    std::vector<std::byte> out(ZSTD_compressBound(target.size()));
    const size_t n = ZSTD_compress2(cctx.get(), out.data(), out.size(), target.data(), target.size());
    if (!Ok(n)) return std::nullopt;
    out.resize(n);
    return out;
}

ApplyResult ApplyPatch(std::span<const std::byte> base, const std::wstring& szPatch, uint64_t nExpectedSize,
                       const std::function<bool(std::span<const std::byte>)>& sink) {
    const int windowLog = WindowLogFor(base.size(), nExpectedSize);
    if (windowLog == 0) return ApplyResult::TooLarge;
    // A delta is never bigger than storing the new version would be.
    const auto patch = ReadBase(szPatch, ZSTD_compressBound(static_cast<size_t>(nExpectedSize)) + 1024);
    if (!patch) return ApplyResult::Unreadable;
    // One frame that says it makes exactly the expected bytes, and nothing after it.
    if (ZSTD_getFrameContentSize(patch->data(), patch->size()) != nExpectedSize ||
        ZSTD_findFrameCompressedSize(patch->data(), patch->size()) != patch->size())
        return ApplyResult::Damaged;
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    if (!dctx) return ApplyResult::Damaged;
    // Decoded in one piece into a buffer of the announced size: no window buffer, no copy
    // through it, and no more memory than the new version itself.
    if (!Ok(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, windowLog)) ||
        !Ok(ZSTD_DCtx_refPrefix(dctx.get(), base.data(), base.size())))
        return ApplyResult::Damaged;
    std::vector<std::byte> out(static_cast<size_t>(nExpectedSize));
    const size_t n = ZSTD_decompressDCtx(dctx.get(), out.data(), out.size(), patch->data(), patch->size());
    if (!Ok(n) || n != out.size()) return ApplyResult::Damaged;
    constexpr size_t kPiece = size_t{1} << 20;
    for (size_t at = 0; at < out.size(); at += kPiece)
        if (!sink({out.data() + at, std::min(kPiece, out.size() - at)})) return ApplyResult::SinkFailed;
    return ApplyResult::Ok;
}

}  // namespace delta
