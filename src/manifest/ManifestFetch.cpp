#include "manifest/ManifestFetch.h"

#include "http/HttpFileFetch.h"
#include "http/HttpServerClient.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

using Kaver::CHttpFileFetch;
using Kaver::CHttpServerClient;
using Kaver::CHttpValidator;
namespace ValidatorFile = Kaver::ValidatorFile;

int FetchManifest(const std::wstring& szUrl, const std::wstring& szTempPath, const std::wstring& szKeptPath) {
    const std::wstring meta = szKeptPath + L".meta";
    std::optional<CHttpValidator> kept;
    if (platform::PathExists(szKeptPath) && !platform::IsDirectory(szKeptPath)) kept = ValidatorFile::Load(meta, szUrl);

    CHttpValidator fresh;
    int result = CHttpFileFetch::GetFileIfChanged(szUrl, szTempPath, kept.value_or(CHttpValidator{}), &fresh);
    if (result == CHttpFileFetch::kNotModified) {
        // The very bytes that were kept go on to be checked and parsed.
        if (platform::CopyFileReplacing(szKeptPath, szTempPath) == 0) {
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] manifest not modified, kept copy used [%s]\n", szUrl));
            return CHttpServerClient::kDownloadOk;
        }
        result = CHttpFileFetch::GetFileIfChanged(szUrl, szTempPath, CHttpValidator{}, &fresh);
    }
    if (result != CHttpServerClient::kDownloadOk) return result;

    // The validator goes first and comes back last, so a copy never pairs with another's.
    platform::DeleteFileAt(meta);
    if (fresh.Empty() || platform::CopyFileReplacing(szTempPath, szKeptPath) != 0 || !ValidatorFile::Store(meta, szUrl, fresh)) {
        platform::DeleteFileAt(meta);
        platform::DeleteFileAt(szKeptPath);
    }
    return result;
}

}  // namespace UpDater
