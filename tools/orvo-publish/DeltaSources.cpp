#include "orvo-publish/DeltaSources.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "delta/Patch.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/Crypto.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

std::string HexOf(const std::vector<std::byte>& bytes) {
    trust::crypto::Sha256 sha;
    sha.Update({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    return sha.FinalHex();
}

std::optional<std::vector<std::byte>> ReadBuildFile(const fs::path& path) {
    std::error_code ec;
    // Only a regular file, never through a link, and no bigger than a delta can span.
    if (!fs::is_regular_file(fs::symlink_status(path, ec)) || fs::file_size(path, ec) > delta::kMaxSpan) return std::nullopt;
    return platform::ReadWholeFile(platform::FromUtf8(path.string()));
}

// The file entry of the previous release's package, found below the release folder by the
// part of its address from "pkg/" on.
std::optional<std::vector<std::byte>> ReadPreviousPackage(const std::string& folder, const UpDater::UpdateItem& item) {
    const std::string url = platform::ToUtf8(item.DownloadUrl);
    const size_t at = url.rfind("/pkg/");
    if (folder.empty() || at == std::string::npos || item.FileSize < 0 || static_cast<uint64_t>(item.FileSize) > delta::kMaxSpan)
        return std::nullopt;
    const std::string rel = url.substr(at + 1);
    if (rel.find("..") != std::string::npos) return std::nullopt;
    int err = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> za(zip_open((fs::path(folder) / rel).c_str(), ZIP_RDONLY, &err), &zip_discard);
    if (!za) return std::nullopt;
    const zip_int64_t index = zip_name_locate(za.get(), platform::ToUtf8(item.OriFileName).c_str(), 0);
    zip_stat_t st;
    if (index < 0 || zip_stat_index(za.get(), index, 0, &st) != 0 || st.size != static_cast<zip_uint64_t>(item.FileSize))
        return std::nullopt;
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> zf(zip_fopen_index(za.get(), index, 0), &zip_fclose);
    if (!zf) return std::nullopt;
    std::vector<std::byte> bytes(st.size);
    if (zip_fread(zf.get(), bytes.data(), bytes.size()) != static_cast<zip_int64_t>(bytes.size())) return std::nullopt;
    return bytes;
}

}  // namespace

std::vector<DeltaBase> FindDeltaBases(const DeltaSources& sources, const UpDater::UpdateItem* previousItem, const std::string& rel,
                                      const std::string& newSha256) {
    std::vector<DeltaBase> bases;
    auto add = [&](std::optional<std::vector<std::byte>> bytes, const std::string& fileHash, const std::string& expectedSha) {
        if (!bytes || bases.size() >= sources.releases) return;
        DeltaBase base;
        base.sha256 = HexOf(*bytes);
        if (base.sha256 == newSha256 || (!expectedSha.empty() && base.sha256 != expectedSha)) return;
        if (std::any_of(bases.begin(), bases.end(), [&](const DeltaBase& b) { return b.sha256 == base.sha256; })) return;
        // Files of this publisher's releases are named by their SHA-256 in the manifest.
        base.fileHash = fileHash.empty() ? base.sha256 : fileHash;
        base.bytes = std::move(*bytes);
        bases.push_back(std::move(base));
    };
    if (previousItem != nullptr) {
        std::string sha = platform::ToUtf8(previousItem->Sha256);
        std::transform(sha.begin(), sha.end(), sha.begin(), [](unsigned char c) { return std::tolower(c); });
        add(ReadPreviousPackage(sources.previousRelease, *previousItem), platform::ToUtf8(previousItem->FileHash), sha);
    }
    if (!sources.previousFiles.empty()) {
        const fs::path dir(sources.previousFiles);
        add(ReadBuildFile(dir / rel), "", "");
        std::vector<fs::path> builds;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec)) builds.push_back(it->path());
        std::sort(builds.rbegin(), builds.rend());
        for (const auto& b : builds) add(ReadBuildFile(b / rel), "", "");
    }
    return bases;
}

}  // namespace publish
