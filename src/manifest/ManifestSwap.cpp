#include "manifest/ManifestSwap.h"

#include <chrono>
#include <span>

#include "manifest/FolderPaths.h"
#include "manifest/ManifestXml.h"
#include "manifest/ReleaseCheck.h"
#include "manifest/ReleaseState.h"
#include "manifest/VersionBuilder.h"
#include "manifest/WorkingFolder.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

namespace {

bool Refuse(const std::wstring& szCopy, const std::wstring& szWhy) {
    platform::OutputDebug(platform::FormatW(L"[VUSVC] Change Xml File refused: %s [%s]\n", szWhy, szCopy));
    return false;
}

}  // namespace

bool SwapInManifest(const std::wstring& szUrl, const std::wstring& szLocalPath) {
    const std::wstring data = GetUserDataFolder();
    const std::wstring working = AddressWorkingFolder(szUrl);
    const std::wstring copy = platform::JoinPath(platform::JoinPath(data, working), L"Temp_" + LastPathComponent(szUrl));
    if (data.empty() || !platform::PathExists(copy)) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] Change Xml File skipped: no refreshed copy [%s]\n", copy));
        return false;
    }
    if (!PrepareWorkingFolder(data, working)) return Refuse(copy, L"the working folder is refused");

    CVersionBuilder builder;
    builder.m_strInitXmlUrl = szUrl;
    builder.m_strTempXmlPath = copy;
    const std::string* xml = builder.DownloadedXml();
    if (xml == nullptr) return Refuse(copy, L"the copy cannot be read");
    std::wstring why;
    if (!builder.VerifyXmlBytes(*xml, builder.SignaturePath(), &why)) return Refuse(copy, why);
    if (builder.m_bSignedXml) {
        static const ManifestLoadLines kLines{L"ChangeXml", 150, 152, 156, 170};
        CManifestDocument doc;
        if (!doc.LoadBytes(*xml, copy, kLines)) return Refuse(copy, L"the copy is not a manifest");
        const int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
        why = CheckReleaseOrder(doc.Root(), LoadAppliedRelease(szUrl).nSequence, now);
        if (!why.empty()) return Refuse(copy, why);
    }
    if (const uint32_t err = platform::WriteFileAtomically(szLocalPath, std::as_bytes(std::span(*xml))))
        return Refuse(copy, platform::FormatW(L"[%s] cannot be written (%u)", szLocalPath, err));
    platform::DeleteFileAt(copy);
    platform::DeleteFileAt(builder.SignaturePath());
    platform::OutputDebug(L"[VUSVC] ----- Change Xml File !!!-----\n");
    return true;
}

}  // namespace UpDater
