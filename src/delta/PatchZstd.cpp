#include <zstd.h>

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
    platform::File in;
    if (in.Open(szPatch, platform::File::Mode::Read) != 0) return ApplyResult::Unreadable;
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    if (!dctx) return ApplyResult::Damaged;
    // A frame asking for a bigger window than the two versions need is not one of ours, and
    // would make the decoder allocate whatever it says.
    if (!Ok(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, windowLog)) ||
        !Ok(ZSTD_DCtx_refPrefix(dctx.get(), base.data(), base.size())))
        return ApplyResult::Damaged;
    std::vector<std::byte> inBuf(ZSTD_DStreamInSize());
    std::vector<std::byte> outBuf(std::max<size_t>(ZSTD_DStreamOutSize(), 256 * 1024));
    uint64_t written = 0;
    size_t pending = 1;  // the decoder's hint: 0 once a whole frame was decoded
    bool frameDone = false;
    for (;;) {
        const int64_t got = in.Read(inBuf.data(), inBuf.size());
        if (got < 0) return ApplyResult::Unreadable;
        if (got == 0) break;
        // One frame only: bytes after it are not part of what was published.
        if (frameDone) return ApplyResult::Damaged;
        ZSTD_inBuffer input{inBuf.data(), static_cast<size_t>(got), 0};
        while (input.pos < input.size) {
            ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
            pending = ZSTD_decompressStream(dctx.get(), &output, &input);
            if (!Ok(pending)) return ApplyResult::Damaged;
            written += output.pos;
            if (written > nExpectedSize) return ApplyResult::TooLarge;
            if (output.pos > 0 && !sink({outBuf.data(), output.pos})) return ApplyResult::SinkFailed;
            if (pending == 0) {
                frameDone = true;
                if (input.pos < input.size) return ApplyResult::Damaged;
            }
        }
    }
    // Whatever the decoder still holds once the input is over.
    while (!frameDone) {
        ZSTD_inBuffer input{nullptr, 0, 0};
        ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
        pending = ZSTD_decompressStream(dctx.get(), &output, &input);
        if (!Ok(pending)) return ApplyResult::Damaged;
        written += output.pos;
        if (written > nExpectedSize) return ApplyResult::TooLarge;
        if (output.pos > 0 && !sink({outBuf.data(), output.pos})) return ApplyResult::SinkFailed;
        if (pending == 0) frameDone = true;
        else if (output.pos == 0) return ApplyResult::Damaged;  // cut short: no progress without input
    }
    return written == nExpectedSize ? ApplyResult::Ok : ApplyResult::Damaged;
}

}  // namespace delta
