#include "http/HttpFileFetch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "http/DownloadFailure.h"
#include "http/HttpClient.h"
#include "http/HttpServerClient.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace Kaver {

using platform::FormatW;

namespace {

constexpr size_t kTransferBuffer = 64 * 1024;
constexpr size_t kMaxValidatorFile = 8 * 1024;
constexpr int64_t kRecordEarly = 1024 * 1024;
constexpr const char* kValidatorMagic = "orvo-validator 1";

void Log(const std::wstring& szLine) { platform::OutputDebug(L"[CHttpFileFetch] " + szLine + L"\n"); }

std::wstring Wide(const std::string& s) { return platform::FromUtf8(s); }

// A header value may not carry a line break into the request.
bool SafeHeaderValue(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos && s.size() < 1024; }

// Seconds since 1970 (UTC) of an HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"); none when malformed.
std::optional<int64_t> HttpDateSeconds(const std::string& szDate) {
    static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1, month = -1, year = -1, hour = -1, minute = -1, second = -1;
    size_t pos = 0;
    while (pos < szDate.size()) {
        const size_t end = std::min(szDate.find_first_of(" ,-", pos), szDate.size());
        const std::string token = szDate.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) continue;
        if (token.find(':') != std::string::npos) {
            char tail = 0;
            if (std::sscanf(token.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &tail) != 3) return std::nullopt;
        } else if (token.find_first_not_of("0123456789") == std::string::npos) {
            if (token.size() > 4) return std::nullopt;
            const int n = std::atoi(token.c_str());
            if (day < 0 && token.size() <= 2) day = n;
            else if (year < 0) year = token.size() == 2 ? (n >= 70 ? 1900 + n : 2000 + n) : n;
            else return std::nullopt;
        } else if (token.size() == 3) {
            std::string lower = token;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (int m = 0; m < 12; ++m)
                if (lower == kMonths[m]) month = m + 1;
        }
    }
    if (day < 1 || day > 31 || month < 1 || year < 1970 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 60)
        return std::nullopt;
    // Days from the civil date (proleptic Gregorian calendar).
    const int y = month <= 2 ? year - 1 : year;
    const int era = y / 400, yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t days = int64_t{era} * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

CHttpValidator ValidatorOf(CHttpResponse& response) {
    CHttpValidator v;
    if (!response.GetHeader("ETag", v.strETag) || !SafeHeaderValue(v.strETag)) v.strETag.clear();
    if (!response.GetHeader("Last-Modified", v.strLastModified) || !SafeHeaderValue(v.strLastModified))
        v.strLastModified.clear();
    // A modification date is only as fine as a second: a file changed again within the second
    // the server answered in keeps it, and asking "modified since?" with it would take the old
    // copy for the new one. Kept only when it lies a second or more before the answer's date.
    // (A tag is taken as the server gives it.)
    if (!v.strLastModified.empty()) {
        std::string date;
        const auto modified = HttpDateSeconds(v.strLastModified);
        const auto answered = response.GetHeader("Date", date) ? HttpDateSeconds(date) : std::nullopt;
        if (!modified || !answered || *answered - *modified < 1) v.strLastModified.clear();
    }
    uint64_t n = 0;
    if (response.GetContentLength(n) && n <= static_cast<uint64_t>(INT64_MAX)) v.nLength = static_cast<int64_t>(n);
    return v;
}

// Sends the GET; null with *pnResult set when the request or its status failed.
std::unique_ptr<CHttpResponse> Send(CHttpClient& client, const std::wstring& szUrl, int* pnResult) {
    client.SetOpenOptions(CHttpServerClient::kDownloadAgent);
    std::unique_ptr<CHttpResponse> response;
    try {
        response.reset(client.SendGetRequest(szUrl.c_str(), CHttpServerClient::kRequestFlags));
        response->GetStatus();
    } catch (const httpclientexceptionW& e) {
        Log(FormatW(L"Err [%s] [%u] Url [%s]", e.GetErrorMsg(), e.GetErrorCode(), szUrl));
        RecordTransferFailure(szUrl, e);
        *pnResult = CHttpServerClient::kDownloadNotStarted;
        return nullptr;
    }
    return response;
}

void LogStatus(CHttpResponse& response, const std::wstring& szUrl) {
    const uint32_t status = response.GetStatus();
    if (status == 407) {
        Log(FormatW(L"Proxy [%s] asks for credentials (407) [%s]", Wide(response.GetProxy()), szUrl));
        RecordStatusFailure(szUrl, status, Wide(response.GetProxy()) + L" (proxy)");
        return;
    }
    Log(FormatW(L"HTTP Status [%u %s] [%s]", status, std::wstring(response.GetStatusText()), szUrl));
    RecordStatusFailure(szUrl, status, response.GetStatusText());
}

// Streams the body into the file; adds what was written to *pnTotal.
// Appends the body to file; a body that would take the whole past nMaxBytes is cut off there.
int Receive(CHttpResponse& response, platform::File& file, const std::wstring& szPath, uint64_t* pnTotal, uint64_t nMaxBytes,
            const std::wstring& szUrl, const CHttpServerClient::ByteProgress& progress = {}, uint64_t nWhole = 0) {
    std::vector<uint8_t> buffer(kTransferBuffer);
    if (progress) progress(*pnTotal, nWhole);
    try {
        for (;;) {
            uint32_t nRead = 0;
            response.ReadContent(buffer.data(), static_cast<uint32_t>(buffer.size()), nRead);
            if (nRead == 0) return CHttpServerClient::kDownloadOk;
            if (*pnTotal > nMaxBytes || nRead > nMaxBytes - *pnTotal) {
                Log(FormatW(L"Too Large [> %llu] [%s]", static_cast<unsigned long long>(nMaxBytes), szUrl));
                return CHttpServerClient::kDownloadFailed;
            }
            if (!file.Write(buffer.data(), nRead)) {
                Log(FormatW(L"File Write Error [%s] [%s]", platform::DescribeError(file.Error()), szUrl));
                RecordLocalFileFailure(szUrl, szPath, file.Error());
                return CHttpServerClient::kDownloadFailed;
            }
            *pnTotal += nRead;
            if (progress) progress(*pnTotal, nWhole);
        }
    } catch (const httpclientexceptionW& e) {
        Log(FormatW(L"Err [%s] [%u] Url [%s]", e.GetErrorMsg(), e.GetErrorCode(), szUrl));
        RecordTransferFailure(szUrl, e);
        return CHttpServerClient::kDownloadFailed;
    }
}

// "bytes <first>-<last>/<whole>" naming exactly the range that was asked for.
bool ContentRangeIs(const std::string& szRange, uint64_t nFirst, int64_t nWhole) {
    const std::string expected = "bytes " + std::to_string(nFirst) + "-" + std::to_string(nWhole - 1) + "/" +
                                 std::to_string(nWhole);
    return szRange == expected;
}

// Puts a finished download in place.
int Finish(const std::wstring& szFrom, const std::wstring& szTo) {
    if (platform::IsDirectory(szTo)) {
        Log(FormatW(L"File Open [%s]", szTo));
        return CHttpServerClient::kDownloadFailed;
    }
    if (const uint32_t err = platform::RenameReplacing(szFrom, szTo)) {
        Log(FormatW(L"File Replace [%u] [%s]", err, szTo));
        return CHttpServerClient::kDownloadFailed;
    }
    return CHttpServerClient::kDownloadOk;
}

}  // namespace

bool CHttpValidator::AllowsRange() const {
    // A weak tag may name a different byte sequence; a date is only as precise as a second, but
    // together with the length it is what servers offer for static files.
    const bool strongTag = !strETag.empty() && strETag.rfind("W/", 0) != 0;
    return nLength > 0 && (strongTag || (strETag.empty() && !strLastModified.empty()));
}

namespace ValidatorFile {

bool Store(const std::wstring& szPath, const std::wstring& szUrl, const CHttpValidator& v) {
    const std::string url = platform::ToUtf8(szUrl);
    if (!SafeHeaderValue(url) || !SafeHeaderValue(v.strETag) || !SafeHeaderValue(v.strLastModified)) return false;
    const std::string text = std::string(kValidatorMagic) + "\nurl " + url + "\netag " + v.strETag + "\nlast-modified " +
                             v.strLastModified + "\nlength " + std::to_string(v.nLength) + "\n";
    std::wstring temp;
    platform::File file;
    if (platform::CreateTempSibling(szPath, file, &temp) != 0) return false;
    const bool written = file.Write(text.data(), text.size());
    file.Close();
    if (!written || platform::RenameReplacing(temp, szPath) != 0) {
        platform::DeleteFileAt(temp);
        return false;
    }
    return true;
}

std::optional<CHttpValidator> Load(const std::wstring& szPath, const std::wstring& szUrl) {
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::ReadWriteNoLink) != 0) return std::nullopt;
    std::string text(kMaxValidatorFile + 1, '\0');
    const int64_t n = file.Read(text.data(), text.size());
    if (n <= 0 || static_cast<size_t>(n) > kMaxValidatorFile) return std::nullopt;
    text.resize(static_cast<size_t>(n));
    std::string url;
    CHttpValidator v;
    bool magic = false, hasLength = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) return std::nullopt;  // cut short
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp), value = sp == std::string::npos ? "" : line.substr(sp + 1);
        if (line == kValidatorMagic) magic = true;
        else if (key == "url") url = value;
        else if (key == "etag") v.strETag = value;
        else if (key == "last-modified") v.strLastModified = value;
        else if (key == "length") {
            char* e = nullptr;
            v.nLength = std::strtoll(value.c_str(), &e, 10);
            hasLength = !value.empty() && *e == '\0' && v.nLength >= -1;
        }
    }
    if (!magic || !hasLength || url != platform::ToUtf8(szUrl)) return std::nullopt;
    return v;
}

}  // namespace ValidatorFile

int CHttpFileFetch::GetFileResuming(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes,
                                    const CHttpServerClient::ByteProgress& progress) {
    if (!CreateLocalFolderChain(szLocalPath)) {
        Log(L"Create Folder Failed");
        return CHttpServerClient::kDownloadNotStarted;
    }
    const std::wstring part = PartPath(szLocalPath), meta = PartMetaPath(szLocalPath);
    auto discard = [&] {
        platform::DeleteFileAt(meta);
        platform::DeleteFileAt(part);
    };

    // What an earlier attempt left, if it can be continued.
    std::optional<CHttpValidator> kept = ValidatorFile::Load(meta, szUrl);
    platform::File file;
    uint64_t have = 0;
    if (kept && kept->AllowsRange() && file.Open(part, platform::File::Mode::ReadWriteNoLink) == 0) {
        have = file.Size().value_or(0);
        if (have == 0 || have >= static_cast<uint64_t>(kept->nLength) || !file.Seek(static_cast<int64_t>(have), 0 /* SEEK_SET */)) {
            file.Close();
            have = 0;
        }
    }
    if (!file.IsOpen()) {
        discard();
        kept.reset();
    }

    CHttpClient client;
    if (have > 0) {
        client.AddHeader(L"Range", FormatW(L"bytes=%llu-", static_cast<unsigned long long>(have)).c_str());
        client.AddHeader(L"If-Range", Wide(kept->strETag.empty() || kept->strETag.rfind("W/", 0) == 0 ? kept->strLastModified
                                                                                                         : kept->strETag)
                                          .c_str());
    }
    int nResult = CHttpServerClient::kDownloadOk;
    std::unique_ptr<CHttpResponse> response = Send(client, szUrl, &nResult);
    if (!response) return nResult;  // the part (if any) stays for the next attempt
    const uint32_t status = response->GetStatus();

    CHttpValidator fresh = ValidatorOf(*response);
    if (status == 206 && have > 0) {
        std::string range;
        const int64_t whole = kept->nLength;
        if (!response->GetHeader("Content-Range", range) || !ContentRangeIs(range, have, whole) ||
            (fresh.nLength >= 0 && static_cast<uint64_t>(fresh.nLength) != static_cast<uint64_t>(whole) - have)) {
            Log(FormatW(L"Range Mismatch [%s] [%s]", Wide(range), szUrl));
            file.Close();
            discard();
            return CHttpServerClient::kDownloadFailed;
        }
        fresh = *kept;
        Log(FormatW(L"Resuming at [%llu/%lld] [%s]", static_cast<unsigned long long>(have), static_cast<long long>(whole), szUrl));
    } else if (status >= 200 && status <= 299 && status != 206) {
        // The whole body: whatever was kept is of another version, or the range was ignored.
        file.Close();
        discard();
        have = 0;
        if (file.Open(part, platform::File::Mode::CreateNew) != 0) {
            Log(FormatW(L"File Open [%s] [%s]", platform::DescribeError(file.Error()), part));
            RecordLocalFileFailure(szUrl, part, file.Error());
            return CHttpServerClient::kDownloadFailed;
        }
        // A large download records its validator before the body, so that even a killed run
        // can be continued; a small one only when it breaks (most never do, and each record
        // costs file creations).
        if (fresh.AllowsRange() && fresh.nLength >= kRecordEarly && !ValidatorFile::Store(meta, szUrl, fresh))
            platform::DeleteFileAt(meta);
    } else {
        LogStatus(*response, szUrl);
        return CHttpServerClient::kDownloadNotStarted;
    }

    // An announced whole above the cap fails before a byte is stored.
    if (fresh.nLength >= 0 && static_cast<uint64_t>(fresh.nLength) > nMaxBytes) {
        Log(FormatW(L"Too Large [%lld > %llu] [%s]", static_cast<long long>(fresh.nLength), static_cast<unsigned long long>(nMaxBytes), szUrl));
        file.Close();
        discard();
        return CHttpServerClient::kDownloadFailed;
    }
    uint64_t total = have;
    nResult = Receive(*response, file, part, &total, nMaxBytes, szUrl, progress, fresh.nLength >= 0 ? static_cast<uint64_t>(fresh.nLength) : 0);
    response.reset();
    const int64_t expected = fresh.nLength;
    if (nResult == CHttpServerClient::kDownloadOk && expected >= 0 && total != static_cast<uint64_t>(expected)) {
        RecordShortBody(szUrl, total, static_cast<uint64_t>(fresh.nLength));
        Log(FormatW(L"Size Mismatch [%llu/%lld] [%s]", static_cast<unsigned long long>(total), static_cast<long long>(expected), szUrl));
        RecordShortBody(szUrl, total, static_cast<uint64_t>(expected));
        nResult = CHttpServerClient::kDownloadFailed;
        file.Close();
        discard();  // the server's own answer is inconsistent: nothing of it is worth keeping
        return nResult;
    }
    if (nResult != CHttpServerClient::kDownloadOk) {
        // Kept only when it can be continued; flushed so that it survives what broke us.
        const bool keep = fresh.AllowsRange() && total > 0 && file.Flush() &&
                          (platform::PathExists(meta) || ValidatorFile::Store(meta, szUrl, fresh));
        file.Close();
        if (!keep) discard();
        return nResult;
    }
    file.Close();
    nResult = Finish(part, szLocalPath);
    if (nResult == CHttpServerClient::kDownloadOk) platform::DeleteFileAt(meta);
    else discard();
    return nResult;
}

int CHttpFileFetch::GetFileIfChanged(const std::wstring& szUrl, const std::wstring& szLocalPath, const CHttpValidator& kept,
                                     CHttpValidator* pFresh, uint64_t nMaxBytes) {
    if (!CreateLocalFolderChain(szLocalPath)) {
        Log(L"Create Folder Failed");
        return CHttpServerClient::kDownloadNotStarted;
    }
    CHttpClient client;
    if (!kept.strETag.empty()) client.AddHeader(L"If-None-Match", Wide(kept.strETag).c_str());
    if (!kept.strLastModified.empty()) client.AddHeader(L"If-Modified-Since", Wide(kept.strLastModified).c_str());
    int nResult = CHttpServerClient::kDownloadOk;
    std::unique_ptr<CHttpResponse> response = Send(client, szUrl, &nResult);
    if (!response) return nResult;
    const uint32_t status = response->GetStatus();
    if (status == 304 && !kept.Empty()) return kNotModified;
    if (status < 200 || status > 299 || status == 206) {  // a part was never asked for
        LogStatus(*response, szUrl);
        return CHttpServerClient::kDownloadNotStarted;
    }
    const CHttpValidator fresh = ValidatorOf(*response);
    if (fresh.nLength >= 0 && static_cast<uint64_t>(fresh.nLength) > nMaxBytes) {
        Log(FormatW(L"Too Large [%lld > %llu] [%s]", static_cast<long long>(fresh.nLength), static_cast<unsigned long long>(nMaxBytes), szUrl));
        return CHttpServerClient::kDownloadFailed;
    }
    std::wstring temp;
    platform::File file;
    if (platform::CreateTempSibling(szLocalPath, file, &temp) != 0) {
        Log(FormatW(L"File Open [%s] [%s]", platform::DescribeError(file.Error()), szLocalPath));
        RecordLocalFileFailure(szUrl, szLocalPath, file.Error());
        return CHttpServerClient::kDownloadFailed;
    }
    uint64_t total = 0;
    nResult = Receive(*response, file, temp, &total, nMaxBytes, szUrl);
    response.reset();
    file.Close();
    if (nResult == CHttpServerClient::kDownloadOk && fresh.nLength >= 0 && total != static_cast<uint64_t>(fresh.nLength)) {
        RecordShortBody(szUrl, total, static_cast<uint64_t>(fresh.nLength));
        Log(FormatW(L"Size Mismatch [%llu/%lld] [%s]", static_cast<unsigned long long>(total),
                    static_cast<long long>(fresh.nLength), szUrl));
        nResult = CHttpServerClient::kDownloadFailed;
    }
    if (nResult == CHttpServerClient::kDownloadOk) nResult = Finish(temp, szLocalPath);
    if (nResult != CHttpServerClient::kDownloadOk) {
        platform::DeleteFileAt(temp);
        return nResult;
    }
    if (pFresh != nullptr) *pFresh = fresh;
    return nResult;
}

void CHttpFileFetch::RemoveStaleParts(const std::wstring& szFolder, const std::set<std::wstring>& keepNames,
                                      std::chrono::system_clock::time_point olderThan) {
    platform::RemoveStaleFiles(szFolder, {PartPath(L""), PartMetaPath(L"")}, keepNames, olderThan);
}

}  // namespace Kaver
