#include "manifest/ManifestFetch.h"

#include <memory>

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

namespace {

// The working copy is scratch, so unlike the kept copy it is not flushed: a second name for
// the kept file where the system allows it, otherwise a plain copy to a fresh sibling; renamed
// into place either way. Sharing the file is safe: both names are only ever replaced by a
// rename or removed, never written through.
uint32_t CopyScratch(const std::wstring& szFrom, const std::wstring& szTo) {
    std::wstring temp;
    if (platform::LinkTempSibling(szFrom, szTo, &temp) == 0) {
        const uint32_t err = platform::RenameReplacing(temp, szTo);
        if (err != 0) platform::DeleteFileAt(temp);
        return err;
    }
    platform::File in, out;
    if (uint32_t err = in.Open(szFrom, platform::File::Mode::Read)) return err;
    if (uint32_t err = platform::CreateTempSibling(szTo, out, &temp)) return err;
    constexpr size_t kBuf = 1 << 20;  // not zero-filled: this is on the road of every start
    const auto buf = std::make_unique_for_overwrite<char[]>(kBuf);
    uint32_t err = 0;
    for (;;) {
        const int64_t n = in.Read(buf.get(), kBuf);
        if (n <= 0) {
            if (n < 0) err = in.LastError();
            break;
        }
        if (!out.Write(buf.get(), static_cast<size_t>(n))) {
            err = out.LastError();
            break;
        }
    }
    out.Close();
    if (err == 0) err = platform::RenameReplacing(temp, szTo);
    if (err != 0) platform::DeleteFileAt(temp);
    return err;
}

}  // namespace

int FetchManifest(const std::wstring& szUrl, const std::wstring& szTempPath, const std::wstring& szKeptPath, uint64_t nMaxBytes,
                  bool* pbFromKept) {
    if (pbFromKept != nullptr) *pbFromKept = false;
    const std::wstring meta = szKeptPath + L".meta";
    std::optional<CHttpValidator> kept;
    if (platform::PathExists(szKeptPath) && !platform::IsDirectory(szKeptPath)) kept = ValidatorFile::Load(meta, szUrl);

    CHttpValidator fresh;
    int result = CHttpFileFetch::GetFileIfChanged(szUrl, szTempPath, kept.value_or(CHttpValidator{}), &fresh, nMaxBytes);
    if (result == CHttpFileFetch::kNotModified) {
        // The very bytes that were kept go on to be checked and parsed.
        if (CopyScratch(szKeptPath, szTempPath) == 0) {
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] manifest not modified, kept copy used [%s]\n", szUrl));
            if (pbFromKept != nullptr) *pbFromKept = true;
            return CHttpServerClient::kDownloadOk;
        }
        result = CHttpFileFetch::GetFileIfChanged(szUrl, szTempPath, CHttpValidator{}, &fresh, nMaxBytes);
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

void ForgetKeptManifest(const std::wstring& szKeptPath) {
    platform::DeleteFileAt(szKeptPath + L".meta");
    platform::DeleteFileAt(szKeptPath);
}

}  // namespace UpDater
