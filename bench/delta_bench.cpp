// The delta benchmark's own side: makes a delta as the publisher does and applies it as the
// updater does (the old version read whole, the result streamed to a new file).
//   delta_bench make OLD NEW DELTA [LEVEL]   prints the delta's size
//   delta_bench apply OLD DELTA OUT SIZE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "delta/Patch.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace {

std::wstring W(const char* s) { return platform::FromUtf8(s); }

int Make(const char* oldPath, const char* newPath, const char* out, int level) {
    const auto base = platform::ReadWholeFile(W(oldPath));
    const auto target = platform::ReadWholeFile(W(newPath));
    if (!base || !target) return std::fprintf(stderr, "cannot read the inputs\n"), 1;
    const auto patch = delta::MakePatch(*base, *target, level);
    if (!patch || platform::WriteFileAtomically(W(out), *patch) != 0) return std::fprintf(stderr, "cannot make the delta\n"), 1;
    std::printf("%zu\n", patch->size());
    return 0;
}

int Apply(const char* oldPath, const char* deltaPath, const char* out, unsigned long long size) {
    const auto base = delta::ReadBase(W(oldPath), delta::kMaxSpan);
    if (!base) return std::fprintf(stderr, "cannot read %s\n", oldPath), 1;
    platform::File file;
    if (file.Open(W(out), platform::File::Mode::CreateAlways) != 0) return std::fprintf(stderr, "cannot create %s\n", out), 1;
    const auto result = delta::ApplyPatch(*base, W(deltaPath), size, [&](std::span<const std::byte> piece) {
        return file.Write(piece.data(), piece.size());
    });
    if (result != delta::ApplyResult::Ok) return std::fprintf(stderr, "%ls\n", delta::ApplyResultText(result)), 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "make" && (argc == 5 || argc == 6)) return Make(argv[2], argv[3], argv[4], argc == 6 ? std::atoi(argv[5]) : 19);
    if (verb == "apply" && argc == 6) return Apply(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 10));
    std::fprintf(stderr, "usage: delta_bench make OLD NEW DELTA [LEVEL] | apply OLD DELTA OUT SIZE\n");
    return 2;
}
