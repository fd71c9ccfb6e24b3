#include "orvo-publish/DeltaMaker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "delta/Patch.h"
#include "orvo-publish/NewFile.h"
#include "orvo-publish/ReleaseConfig.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/Crypto.h"

namespace publish {

bool DeltaWorthKeeping(uint64_t nDeltaSize, uint64_t nPackageSize) {
    return nDeltaSize * 4 <= nPackageSize * 3 && nPackageSize - nDeltaSize >= kMinDeltaSaving;
}

std::string DeltaName(const std::string& baseSha256, const std::string& targetSha256) {
    return "delta/" + baseSha256.substr(0, 32) + "-" + targetSha256.substr(0, 32) + ".zst";
}

namespace {

// The same name always holds the same bytes: a delta made before is left as it is.
void WriteWhole(const std::string& path, std::span<const std::byte> data) {
    WriteNewFile(path, {reinterpret_cast<const char*>(data.data()), data.size()}, 0644, IfExists::Keep);
}

}  // namespace

std::vector<UpDater::DeltaEntry> MakeDeltas(const std::vector<DeltaBase>& bases, const DeltaTarget& target, const std::string& dir,
                                            const std::string& baseUrl) {
    std::vector<UpDater::DeltaEntry> entries;
    if (bases.empty() || !delta::Available()) return entries;
    const auto read = platform::ReadWholeFile(platform::FromUtf8(target.path));
    if (!read) throw InputError(target.path + ": cannot read");
    const std::vector<std::byte>& bytes = *read;
    for (const DeltaBase& base : bases) {
        if (delta::WindowLogFor(base.bytes.size(), bytes.size()) == 0) continue;
        const auto patch = delta::MakePatch(base.bytes, bytes, kDeltaLevel);
        if (!patch || !DeltaWorthKeeping(patch->size(), target.packageSize)) continue;
        const std::string name = DeltaName(base.sha256, target.sha256);
        WriteWhole(dir + "/" + name, *patch);
        trust::crypto::Sha256 sha;
        sha.Update({reinterpret_cast<const uint8_t*>(patch->data()), patch->size()});
        UpDater::DeltaEntry e;
        e.BaseFileHash = platform::FromUtf8(base.fileHash);
        e.BaseSha256 = platform::FromUtf8(base.sha256);
        e.DownloadUrl = platform::FromUtf8(baseUrl + "/" + name);
        e.Size = static_cast<int64_t>(patch->size());
        e.Sha256 = platform::FromUtf8(sha.FinalHex());
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace publish
