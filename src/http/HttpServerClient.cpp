#include "http/HttpServerClient.h"

#include <memory>
#include <vector>

#include "http/DownloadFailure.h"
#include "http/HttpClient.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace Kaver {

namespace {

// One read asks for one byte less than the buffer, which always stays terminated. 64 KiB
// rather than 4 KiB: the same bytes land in the file with a sixteenth of the system calls.
constexpr size_t kTransferBuffer = 64 * 1024;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The folder part of a local path, ending in a separator; empty for a bare file name.
std::wstring FolderOf(const std::wstring& szPath) {
    const size_t sep = szPath.find_last_of(L"\\/");
    if (sep != std::wstring::npos) return szPath.substr(0, sep + 1);
    if (szPath.size() >= 2 && szPath[1] == L':') return szPath.substr(0, 2) + L"\\";
    return {};
}

// Creates every folder of the chain that does not exist yet.
bool CreateFolderChain(std::wstring szFolder) {
    if (szFolder.empty()) return false;
    if (!IsSeparator(szFolder.back())) szFolder += L'\\';
    for (size_t i = 0; i < szFolder.size(); ++i) {
        if (!IsSeparator(szFolder[i]) || i == 0) continue;
        const std::wstring prefix = szFolder.substr(0, i);
        if (prefix.back() == L':' || platform::IsDirectory(prefix)) continue;
        const uint32_t err = platform::CreateDirectoryOne(prefix);
        if (err != 0 && !(err == platform::ERROR_ALREADY_EXISTS_ && platform::IsDirectory(prefix))) return false;
    }
    return true;
}

void LogHttpError(const httpclientexceptionW& e, int nLine, const std::wstring& szUrl) {
    platform::OutputDebug(platform::FormatW(L"[CHttpServerClient::GetFileFromURL] Err [%s] [%d]Line\n", e.GetErrorMsg(), nLine));
    platform::OutputDebug(platform::FormatW(L"[CHttpServerClient::GetFileFromURL] Url [%s] Code [%u] System Error [%u]\n",
                                            szUrl, e.GetErrorCode(), e.GetSystemError()));
}

void LogTooLarge(uint64_t nSize, uint64_t nMax, const std::wstring& szUrl) {
    platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] Too Large [%llu > %llu] [%s]\n",
                                            static_cast<unsigned long long>(nSize), static_cast<unsigned long long>(nMax), szUrl));
}

}  // namespace

bool CreateLocalFolderChain(const std::wstring& szLocalPath) { return CreateFolderChain(FolderOf(szLocalPath)); }

int CHttpServerClient::GetFileFromURL(std::wstring strUrl, std::wstring strLocalPath, uint64_t nMaxBytes, const ByteProgress& progress) {
    CHttpClient client;
    if (!CreateFolderChain(FolderOf(strLocalPath))) {
        platform::OutputDebug(L"[FAILED CHttpServerClient::GetFileFromURL] Create Folder Failed");
        RecordLocalFileFailure(strUrl, FolderOf(strLocalPath), platform::ERROR_PATH_NOT_FOUND_);
        return kDownloadNotStarted;
    }
    client.SetOpenOptions(kDownloadAgent);

    std::unique_ptr<CHttpResponse> response;
    uint64_t nContentLength = 0;
    bool bHasLength = false;
    uint32_t nStatus = 0;
    try {
        response.reset(client.SendGetRequest(strUrl.c_str(), kRequestFlags));
        bHasLength = response->GetContentLength(nContentLength);
        nStatus = response->GetStatus();
    } catch (const httpclientexceptionW& e) {
        LogHttpError(e, 136, strUrl);
        RecordTransferFailure(strUrl, e);
        return kDownloadNotStarted;
    }
    // An error page is not the file that was asked for.
    if (nStatus == 407) {
        platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] Proxy [%s] asks for credentials (407) [%s]\n",
                                                platform::FromUtf8(response->GetProxy()), strUrl));
        return kDownloadNotStarted;
    }
    if (nStatus < 200 || nStatus > 299) {
        platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] HTTP Status [%u %s] [%s]\n",
                                                nStatus, std::wstring(response->GetStatusText()), strUrl));
        RecordStatusFailure(strUrl, nStatus, response->GetStatusText());
        return kDownloadNotStarted;
    }
    if (bHasLength && nContentLength > nMaxBytes) {
        LogTooLarge(nContentLength, nMaxBytes, strUrl);
        return kDownloadFailed;
    }

    // The body goes to a sibling first, so that a broken transfer never leaves a file that
    // looks downloaded (nor destroys an older copy).
    if (platform::IsDirectory(strLocalPath)) {
        platform::OutputDebug(L"[FAILED CHttpServerClient::GetFileFromURL] File Open");
        RecordLocalFileFailure(strUrl, strLocalPath, platform::ERROR_ACCESS_DENIED_);
        return kDownloadFailed;
    }
    std::wstring strTemp;
    platform::File file;
    if (platform::CreateTempSibling(strLocalPath, file, &strTemp) != 0) {
        platform::OutputDebug(L"[FAILED CHttpServerClient::GetFileFromURL] File Open");
        RecordLocalFileFailure(strUrl, strLocalPath, file.Error());
        return kDownloadFailed;
    }

    int nResult = kDownloadOk;
    uint64_t nTotal = 0;
    std::vector<uint8_t> buffer(kTransferBuffer, 0);
    const uint64_t nAnnounced = bHasLength ? nContentLength : 0;
    if (progress) progress(0, nAnnounced);
    try {
        for (;;) {
            uint32_t nRead = 0;
            response->ReadContent(buffer.data(), kTransferBuffer - 1, nRead);
            if (nRead == 0) break;
            // A server that never stops sending is cut off at what was announced.
            if (nRead > nMaxBytes - nTotal) {
                LogTooLarge(nTotal + nRead, nMaxBytes, strUrl);
                nResult = kDownloadFailed;
                break;
            }
            buffer[nRead] = 0;
            if (!file.Write(buffer.data(), nRead)) {
                platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] File Write Error [%s] [%s]\n",
                                                        platform::DescribeError(file.Error()), strTemp));
                RecordLocalFileFailure(strUrl, strTemp, file.Error());
                nResult = kDownloadFailed;
                break;
            }
            nTotal += nRead;
            if (progress) progress(nTotal, nAnnounced);
        }
    } catch (const httpclientexceptionW& e) {
        LogHttpError(e, 190, strUrl);
        RecordTransferFailure(strUrl, e);
        nResult = kDownloadFailed;
    }
    if (nResult == kDownloadOk && bHasLength && nTotal != nContentLength) {
        platform::OutputDebug(platform::FormatW(
            L"[FAILED CHttpServerClient::GetFileFromURL] Size Mismatch [%llu/%llu] [%s]\n",
            static_cast<unsigned long long>(nTotal), static_cast<unsigned long long>(nContentLength), strUrl));
        RecordShortBody(strUrl, nTotal, nContentLength);
        nResult = kDownloadFailed;
    }
    response.reset();
    file.Close();
    if (nResult == kDownloadOk) {
        // A download is scratch until it is installed: no need to wait for the disk here.
        const uint32_t err = platform::RenameReplacing(strTemp, strLocalPath);
        if (err != 0) {
            platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] File Replace [%u] [%s]\n",
                                                    err, strLocalPath));
            RecordLocalFileFailure(strUrl, strLocalPath, err);
            nResult = kDownloadFailed;
        }
    }
    if (nResult != kDownloadOk) platform::DeleteFileAt(strTemp);
    return nResult;
}

int CHttpServerClient::PostToUrl(std::wstring strBaseUrl, std::wstring strPath, const std::vector<_tsHttpParam>& params) {
    if (params.empty()) return kPostEmpty;
    CHttpClient client;
    client.SetOpenOptions(kPostAgent);
    bool bHasFile = false;
    for (const auto& p : params) {
        client.AddParam(p.strName.c_str(), p.strValue.c_str(), p.bFile ? CHttpClientMapAttrFile : 0);
        bHasFile = bHasFile || p.bFile != 0;
    }
    const std::wstring strUrl = strBaseUrl + strPath;
    if (bHasFile)
        client.StartUploadContext(strUrl.c_str(), kRequestFlags);
    else
        client.StartPostContext(strUrl.c_str(), kRequestFlags);
    std::unique_ptr<CHttpResponse> response;
    while (!response) response.reset(client.ContinuePost());
    const uint32_t nStatus = response->GetStatus();
    if (nStatus == 407) {
        platform::OutputDebug(platform::FormatW(L"[FAILED CHttpServerClient::GetFileFromURL] Proxy [%s] asks for credentials (407) [%s]\n",
                                                platform::FromUtf8(response->GetProxy()), strUrl));
        return kDownloadNotStarted;
    }
    if (nStatus < 200 || nStatus > 299) {
        platform::OutputDebug(platform::FormatW(L"[CHttpServerClient::PostToUrl] Refused [%u %s] [%s]\n", nStatus,
                                                std::wstring(response->GetStatusText()), strUrl));
        return kPostRefused;
    }
    return kPostAccepted;
}

}  // namespace Kaver
