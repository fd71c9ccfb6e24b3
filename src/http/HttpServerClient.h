// The two operations through which the updater talks to its server: download one URL into
// one local file, and post named values (and files) to a URL. Each call builds its own client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Kaver {

// One named post parameter: a text value, or (bFile) the full path of a local file to upload.
struct _tsHttpParam {
    std::wstring strName;
    std::wstring strValue;
    int32_t bFile = 0;
};

// Creates the folder chain of a local file path (every missing folder); false for a bare file
// name or when a folder cannot be made.
bool CreateLocalFolderChain(const std::wstring& szLocalPath);

class CHttpServerClient {
public:
    // Request flags of every request: reload, no cache write, keep connection, resynchronize,
    // hyperlink, no UI, pragma no-cache.
    static constexpr uint32_t kRequestFlags = 0x84400F00;
    static constexpr const wchar_t* kDownloadAgent = L"Talven Url File Download";
    static constexpr const wchar_t* kPostAgent = L"Talven Post";

    // Results of GetFileFromURL.
    static constexpr int kDownloadOk = 1;         // the whole body is in the file
    static constexpr int kDownloadFailed = 0;     // the transfer or the file failed; no file left behind
    static constexpr int kDownloadNotStarted = -1;  // folder, request or HTTP status failed

    // Results of PostToUrl.
    static constexpr int kPostEmpty = 0;     // no parameter: nothing sent
    static constexpr int kPostAccepted = 1;  // sent completely, answered with a 2xx status
    static constexpr int kPostRefused = 2;   // sent completely, answered with another status

    static constexpr uint64_t kNoSizeLimit = UINT64_MAX;
    // Bytes received so far and the announced length (0 when the server announced none).
    using ByteProgress = std::function<void(uint64_t nDone, uint64_t nTotal)>;

    // Downloads into strLocalPath (its folder chain is created). Only 1 is success; a file
    // already at the path is replaced only by a complete download. A body longer than
    // nMaxBytes is cut off there and fails. progress, when given, hears of the bytes as they
    // arrive (first with 0 once the answer has come).
    static int GetFileFromURL(std::wstring strUrl, std::wstring strLocalPath, uint64_t nMaxBytes = kNoSizeLimit,
                              const ByteProgress& progress = {});

    // Posts to strBaseUrl + strPath: a multipart upload when a parameter is a file, a form
    // post otherwise. HTTP-layer failures are thrown as httpclientexceptionW.
    static int PostToUrl(std::wstring strBaseUrl, std::wstring strPath, const std::vector<_tsHttpParam>& params);
};

}  // namespace Kaver
