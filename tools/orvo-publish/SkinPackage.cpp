#include "orvo-publish/SkinPackage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "orvo-publish/PackageWriter.h"
#include "orvo-publish/ReleaseConfig.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"
#include "ui/SkinLayoutReader.h"

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLayoutName = "skin.xml";

}  // namespace

SkinPackage PackSkinFolder(const std::string& folder, const std::string& dir, std::optional<time_t> epoch) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) throw InputError(folder + ": not a folder");
    std::wstring why;
    if (!OrvoUi::ReadSkinFolder(platform::FromUtf8(folder), platform::FromUtf8(kLayoutName), &why))
        throw InputError(folder + ": not a skin the updater can show: " + platform::ToUtf8(why));

    std::vector<PackageInput> entries;
    SkinPackage out;
    out.layoutName = kLayoutName;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) throw InputError(p.string() + ": " + std::strerror(errno));
        // The updater reads a skin's files from one folder and follows no link.
        if (S_ISLNK(st.st_mode)) throw InputError(p.string() + ": a symbolic link; a skin holds the files themselves");
        if (!S_ISREG(st.st_mode)) throw InputError(p.string() + ": a skin folder holds files only");
        PackageInput in;
        in.source = p.string();
        in.entryName = p.filename().string();
        in.mode = 0644;
        in.mtime = std::max(kZipEpoch, epoch ? std::min(*epoch, st.st_mtime) : st.st_mtime);
        if (in.entryName == kLayoutName) out.layoutSize = static_cast<uint64_t>(st.st_size);
        entries.push_back(std::move(in));
    }
    if (ec) throw InputError(folder + ": " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const PackageInput& a, const PackageInput& b) { return a.entryName < b.entryName; });

    const std::string temp = dir + "/pkg/skin.zip.part";
    WritePackage(entries, temp);
    const auto sha = trust::Sha256OfFile(platform::FromUtf8(temp));
    struct stat st {};
    if (!sha || ::stat(temp.c_str(), &st) != 0) throw InputError(temp + ": cannot read the package just written");
    out.sha256 = *sha;
    out.packageSize = static_cast<uint64_t>(st.st_size);
    out.address = out.sha256.substr(0, 32);
    // Beside the file packages, as pkg/<content address>/<name>.zip.
    const std::string packageFolder = dir + "/pkg/" + out.address;
    std::error_code made;
    fs::create_directories(packageFolder, made);
    if (made) throw InputError(packageFolder + ": " + made.message());
    const std::string zip = packageFolder + "/skin.zip";
    if (::rename(temp.c_str(), zip.c_str()) != 0) throw InputError(zip + ": cannot write the package (" + std::strerror(errno) + ")");
    return out;
}

UpDater::SkinItem SkinItemOf(const SkinPackage& package, const std::string& base) {
    UpDater::SkinItem item;
    // The package's hash: any file of the skin that changes makes the updater fetch it again.
    item.FileHash = platform::FromUtf8(package.sha256);
    item.DownloadUrl = platform::FromUtf8(base + "/pkg/" + package.address + "/skin.zip");
    item.OriFileName = platform::FromUtf8(package.layoutName);
    item.FileSize = static_cast<int64_t>(package.layoutSize);
    // Checked by the updater before anything of the package is unpacked.
    item.Sha256 = platform::FromUtf8(package.sha256);
    item.PackageSize = static_cast<int64_t>(package.packageSize);
    return item;
}

}  // namespace publish
