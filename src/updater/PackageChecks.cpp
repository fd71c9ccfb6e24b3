#include "updater/PackageChecks.h"

#include "platform/debug.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"
#include "updater/FileServices.h"

namespace UpDater {

using platform::FormatW;

uint64_t PackageDownloadLimit(const UpdateItem& item) {
    if (item.PackageSize > 0) return static_cast<uint64_t>(item.PackageSize);
    const uint64_t size = item.FileSize > 0 ? static_cast<uint64_t>(item.FileSize) : 0;
    // Stored blocks add 5 bytes per 64 KiB, headers a few hundred bytes plus the name twice; a
    // sixteenth and a mebibyte leave room for a package made by any ordinary zip tool.
    return size + size / 16 + (1u << 20);
}

bool CheckDownloadedPackage(const UpdateItem& item) {
    if (item.PackageSize <= 0) return true;
    const int64_t size = GetFileSize(item.DownloadPath);
    if (size == item.PackageSize) return true;
    platform::OutputDebug(FormatW(L"[OVUSVC] [Error %d line] CMgr::DownloadUpdateFile()   [%s] Package size %lld, %lld expected \n",
                                  271, item.DownloadUrl, static_cast<long long>(size), static_cast<long long>(item.PackageSize)));
    return false;
}

bool CheckUnpackedSha256(const UpdateItem& item, const std::wstring& szUnpacked) {
    if (item.Sha256.empty()) return true;
    const auto actual = trust::Sha256OfFile(szUnpacked);
    if (actual && platform::EqualsNoCase(platform::FromUtf8(*actual), item.Sha256)) return true;
    // A hash that cannot be computed (a build without cryptography) refuses the file too: the
    // manifest asked for the check.
    platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File Sha256 Failed%s \n", 362,
                                  szUnpacked, actual ? L"" : L" (cannot hash)"));
    return false;
}

}  // namespace UpDater
