#include "updater/PackageChecks.h"

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"
#include "updater/FileServices.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;

uint64_t PackageDownloadLimit(const UpdateItem& item) { return PackageDownloadLimit(item.PackageSize, item.FileSize); }

uint64_t PackageDownloadLimit(int64_t nPackageSize, int64_t nFileSize) {
    if (nPackageSize > 0) return static_cast<uint64_t>(nPackageSize);
    const uint64_t size = nFileSize > 0 ? static_cast<uint64_t>(nFileSize) : 0;
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

namespace {

bool IsSha256Text(const std::wstring& szText) {
    return szText.size() == 64 && szText.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

bool SameSha256(const std::wstring& szPath, const std::wstring& szExpected) {
    const auto actual = trust::Sha256OfFile(szPath);
    return actual && platform::EqualsNoCase(platform::FromUtf8(*actual), szExpected);
}

}  // namespace

bool CheckSkinPackage(const SkinItem& skin, const std::wstring& szPackage, bool bSigned) {
    auto refuse = [&skin](const wchar_t* szWhy) {
        platform::OutputDebug(FormatW(L"[OVUSVC]  [Error %d line] CMgr::SkinDownload [%s] Skin Package Refused: %s \n", 150,
                                      skin.DownloadUrl, szWhy));
        return false;
    };
    if (skin.PackageSize > 0 && GetFileSize(szPackage) != skin.PackageSize) return refuse(L"not the size announced");
    if (!skin.Sha256.empty()) {
        if (!trust::crypto::Available() && !bSigned) {
            // As for file packages: without a trusted key this guards nothing the size does not.
            platform::OutputDebug(FormatW(L"[OVUSVC][Warning %d line] CMgr::SkinDownload [%s] Sha256 not checked: no hashing in this build \n",
                                          151, skin.DownloadUrl));
            return true;
        }
        return SameSha256(szPackage, skin.Sha256) ? true : refuse(L"Sha256 differs");
    }
    if (!bSigned || !IsSha256Text(skin.FileHash)) return true;
    std::wstring movie;
    if (!UnzipEntry(szPackage, skin.OriFileName, skin.FileSize, szPackage, &movie)) return refuse(L"no movie of the size announced");
    const bool same = SameSha256(movie, skin.FileHash);
    platform::DeleteFileAt(movie);
    return same ? true : refuse(L"the movie's SHA-256 differs from FileHash");
}

}  // namespace UpDater
