// The HTTP client: ordered parameter/header maps, URL analysis, the client itself (GET
// requests and the POST context that streams a form post or a multipart upload) and its
// response. Every failure is thrown as httpclientexceptionW.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/HttpEncoder.h"
#include "http/HttpException.h"
#include "http/HttpTool.h"
#include "platform/fs.h"

namespace Kaver {

// Attributes of a map entry.
inline constexpr uint32_t CHttpClientMapAttrFile = 1;          // the value is a local file path
inline constexpr uint32_t CHttpClientMapAttrNameEncoded = 2;   // the name is already URL-encoded
inline constexpr uint32_t CHttpClientMapAttrValueEncoded = 4;  // the value is already URL-encoded

// Request flags used by the updater's requests.
inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr uint32_t INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
inline constexpr uint32_t INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
inline constexpr uint32_t INTERNET_FLAG_HYPERLINK = 0x00000400;
inline constexpr uint32_t INTERNET_FLAG_NO_UI = 0x00000200;
inline constexpr uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = platform::inet::INTERNET_FLAG_PRAGMA_NOCACHE;
inline constexpr uint32_t INTERNET_FLAG_SECURE = platform::inet::INTERNET_FLAG_SECURE;

// An ordered multi-map: names compared without case (A-Z fold to a-z), equal names keep
// their insertion order. Every request iterates it in this order.
template <class HttpTool>
class CHttpClientMapT {
public:
    struct Entry {
        std::wstring szName;
        std::optional<std::wstring> szValue;
        uint32_t dwAttr = 0;
    };

    CHttpClientMapT() = default;
    virtual ~CHttpClientMapT() = default;

    void Add(const wchar_t* szName, const wchar_t* szValue, uint32_t dwAttr = 0);
    size_t Count() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    const Entry& At(size_t nIdx) const;
    void Clear() { m_entries.clear(); }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

    // The wide case-insensitive comparison of the default locale.
    static int CompareName(const std::wstring& a, const std::wstring& b);

private:
    std::vector<Entry> m_entries;
};

// Counts, offsets and lengths (in characters) of the parts of a URL.
struct CHttpUrlComponents {
    uint32_t nSchemeIdx = 0, nSchemeLen = 0;
    uint32_t nHostIdx = 0, nHostLen = 0;
    uint32_t nPortIdx = 0, nPortLen = 0;
    uint32_t nPathIdx = 0, nPathLen = 0;
    uint32_t nSearchIdx = 0, nSearchLen = 0;  // the query, "?" included
    uint32_t nBookmarkIdx = 0, nBookmarkLen = 0;  // the fragment, "#" included
    bool operator==(const CHttpUrlComponents&) const = default;
};

template <class HttpTool>
class CHttpUrlAnalyzerT {
public:
    static CHttpUrlComponents Analyze(unsigned nCodePage, const wchar_t* szUrl);
};

template <class HttpTool>
class CHttpResponseT {
public:
    // Takes ownership of the three handles.
    CHttpResponseT(HINTERNET hInternet, HINTERNET hConnection, HINTERNET hRequest) noexcept
        : m_hInternet(hInternet), m_hConnection(hConnection), m_hRequest(hRequest) {}
    virtual ~CHttpResponseT();
    CHttpResponseT(const CHttpResponseT&) = delete;
    CHttpResponseT& operator=(const CHttpResponseT&) = delete;

    // False (nLength unchanged) when the response has no Content-Length.
    bool GetContentLength(uint32_t& nLength) const;
    bool GetContentLength(uint64_t& nLength) const;
    // The HTTP status code of the final response (after redirects).
    uint32_t GetStatus();
    const wchar_t* GetStatusText();
    // One read; 0 bytes read means the body has ended completely.
    void ReadContent(uint8_t* pbyBuff, uint32_t cbyBuff, uint32_t& cbyRead);
    // A response header's value (bytes as sent); false when the response has none.
    bool GetHeader(const char* szName, std::string& szValue) const;
    // The proxy that carried the request, empty when it went direct or is not known.
    std::string GetProxy() const;
    HINTERNET GetRequestHandle() const { return m_hRequest; }

private:
    CHttpClientMapT<HttpTool> m_mapHeader;
    HINTERNET m_hInternet = nullptr;
    HINTERNET m_hConnection = nullptr;
    HINTERNET m_hRequest = nullptr;
    uint32_t m_dwStatus = 0;
    std::optional<std::wstring> m_szStatusText;
    bool m_bStatusRead = false;
};

// Counters of a running post context.
template <class HttpTool>
class CHttpPostStatT {
public:
    CHttpPostStatT() = default;
    virtual ~CHttpPostStatT() = default;

    bool IsActive() const { return m_bIsActive; }
    uint32_t ActualTotalByte() const;
    uint32_t ActualPostedByte() const;
    uint32_t TotalByte() const;
    uint32_t PostedByte() const;
    uint32_t TotalCount() const;
    uint32_t PostedCount() const;
    uint32_t FileCount() const;
    uint32_t PostedFileCount() const;
    const wchar_t* CurrParam() const;
    const wchar_t* CurrFile() const;
    uint32_t CurrParamTotalByte() const;
    uint32_t CurrParamPostedByte() const;
    uint32_t CurrParamRemainByte() const;
    bool CurrParamIsFile() const;
    bool CurrParamIsComplete() const;
    bool AllParamsStarted() const { return m_nPostedCount == m_nTotalCount; }

    // Used by the client while it posts.
    void _MakeActive(uint32_t nActualTotal, uint32_t nTotal, uint32_t nTotalCount, uint32_t nFileCount);
    void _TestAddActualPostedBytes(uint32_t nBytes) const;
    void _AddActualPostedBytes(uint32_t nBytes);
    void _TestAddPostedBytes(uint32_t nBytes) const;
    void _AddPostedBytes(uint32_t nBytes);
    void _TestStartNewEntry(bool bIsFile) const;
    void _StartNewEntry(const wchar_t* szName, uint32_t nTotal, const wchar_t* szFilePath);
    void _Clear();

private:
    void _CheckActive(const wchar_t* szAccessor) const;

    bool m_bIsActive = false;
    uint32_t m_nActualTotalByte = 0;
    uint32_t m_nActualPostedByte = 0;
    uint32_t m_nTotalByte = 0;
    uint32_t m_nPostedByte = 0;
    uint32_t m_nTotalCount = 0;
    uint32_t m_nPostedCount = 0;
    uint32_t m_nFileCount = 0;
    uint32_t m_nPostedFileCount = 0;
    std::optional<std::wstring> m_szCurrParam;
    std::optional<std::wstring> m_szCurrFile;
    uint32_t m_nCurrParamTotalByte = 0;
    uint32_t m_nCurrParamPostedByte = 0;
};

template <class HttpTool, class HttpEncoder>
class CHttpClientT {
public:
    using Map = CHttpClientMapT<HttpTool>;
    using Response = CHttpResponseT<HttpTool>;
    using PostStat = CHttpPostStatT<HttpTool>;

    static constexpr const wchar_t* kDefaultUserAgent = L"Kaver HTTP Client Class";
    static constexpr const char* kFixedBoundary = "----KAVER-FB3B405B7EAE495aB0C0295C54D4E096-";
    static constexpr const wchar_t* kFixedUploadContentType =
        L"multipart/form-data; boundary=----KAVER-FB3B405B7EAE495aB0C0295C54D4E096-";
    static constexpr uint32_t kPostStep = 1024;
    static constexpr uint32_t kFileBufferSize = 0xE000;

    CHttpClientT();
    virtual ~CHttpClientT();
    CHttpClientT(const CHttpClientT&) = delete;
    CHttpClientT& operator=(const CHttpClientT&) = delete;

    void SetOpenOptions(const wchar_t* szUserAgent, uint32_t dwAccessType = 0, const wchar_t* szProxyName = nullptr,
                        const wchar_t* szProxyBypass = nullptr, uint32_t dwFlags = 0);
    void SetUseUtf8(bool bUseUtf8) { m_bUseUtf8 = bUseUtf8; }
    void SetAnsiCodePage(unsigned nCodePage) { m_nAnsiCodePage = nCodePage; }
    void SetProxyAccount(const wchar_t* szUserName, const wchar_t* szPassword);
    const wchar_t* GetBoundary() const { return m_szBoundary ? m_szBoundary->c_str() : nullptr; }
    const wchar_t* GetUploadContentType() const;

    void AddParam(const wchar_t* szName, const wchar_t* szValue = nullptr, uint32_t dwAttr = 0);
    // A request header sent with every request of this client.
    void AddHeader(const wchar_t* szName, const wchar_t* szValue) { m_mapHeader.Add(szName, szValue); }
    void ClearParam() { m_mapParam.Clear(); }
    const Map& Params() const { return m_mapParam; }

    // The caller owns (deletes) the response.
    Response* SendGetRequest(const wchar_t* szUrl, uint32_t dwFlags);
    size_t MakeGetUrlLen(const wchar_t* szUrl);
    wchar_t* MakeGetUrl(wchar_t* szBuff, const wchar_t* szUrl);

    HINTERNET OpenConnection(const wchar_t* szUrl, HINTERNET hInternet);
    void ApplyProxyAccount(HINTERNET hConnection);
    HINTERNET OpenRequest(const wchar_t* szUrl, HINTERNET hConnection, const wchar_t* szVerb, uint32_t dwFlags);
    void AddRequestHeader(HINTERNET hRequest);

    // Post context: start, then ContinuePost until it returns the response (owned by the caller).
    void StartPostContext(const wchar_t* szUrl, uint32_t dwFlags);
    void StartUploadContext(const wchar_t* szUrl, uint32_t dwFlags);
    Response* ContinuePost();
    const PostStat& QueryPostStat() const { return m_objPostStat; }
    bool IsPostContextActive() const { return m_objPostStat.IsActive(); }

private:
    struct UrlInfo {
        CHttpUrlComponents c;
        std::wstring szUrl;
    };

    void CreateBoundary();
    HINTERNET OpenInternet();
    bool IsHttps(const wchar_t* szUrl, const CHttpUrlComponents& c) const;
    std::string EncodeText(const wchar_t* szText) const;        // UTF-8 or ANSI, not escaped
    std::string UrlEncodedName(const typename Map::Entry& e) const;
    std::string UrlEncodedValue(const typename Map::Entry& e) const;
    const std::string& BoundaryA() const;

    uint32_t _CalcPostBodyLen() const;
    uint32_t _CalcUploadBodyLen(uint32_t& nDataLen, std::vector<platform::File>& files,
                                std::vector<std::string>& mimes, std::vector<uint32_t>& sizes) const;
    void _StartContext(const wchar_t* szUrl, uint32_t dwFlags, bool bUpload);
    Response* _ProceedPostContext();
    Response* _ProceedUploadContext();
    void _WritePost(const uint8_t* pbyBuff, size_t cbyBuff, bool bIsParamData);
    void _WritePost(const std::string& szText, bool bIsParamData = false);
    Response* _ReleasePostResponse();
    void _ReleasePostContext() noexcept;
    uint32_t _ReadFileData(uint8_t* pbyOut, uint32_t cbyWanted);

    // Multipart boundary and content type.
    std::optional<std::wstring> m_szBoundary;
    std::optional<std::string> m_szBoundaryA;
    std::optional<std::wstring> m_szUploadContType;
    bool m_bUseUtf8 = false;
    unsigned m_nAnsiCodePage = CP_ACP;
    Map m_mapHeader;
    Map m_mapParam;
    // Internet options.
    std::optional<std::wstring> m_szUserAgent;
    uint32_t m_dwAccessType = 0;
    std::optional<std::wstring> m_szProxyName;
    std::optional<std::wstring> m_szProxyBypass;
    uint32_t m_dwFlags = 0;
    std::optional<std::wstring> m_szProxyUserName;
    std::optional<std::wstring> m_szProxyPassword;

    // Post context.
    PostStat m_objPostStat;
    PostStat m_objInitialStat;
    HINTERNET m_hInternet = nullptr;
    bool m_bBorrowedInternet = false;
    HINTERNET m_hConnection = nullptr;
    bool m_bBorrowedConnection = false;
    HINTERNET m_hRequest = nullptr;
    std::vector<platform::File> m_arrFiles;
    std::vector<std::string> m_arrMimeTypes;
    std::vector<uint32_t> m_arrFileSizes;
    std::string m_szCurrValue;
    size_t m_nCurrValuePos = 0;
    bool m_bIsPost = true;
    std::unique_ptr<uint8_t[]> m_pbyFileBuff;
    uint32_t m_cbyFileBuffFill = 0;
    uint32_t m_cbyFileBuffPos = 0;
};

using CHttpClientMap = CHttpClientMapT<CHttpToolW>;
using CHttpUrlAnalyzer = CHttpUrlAnalyzerT<CHttpToolW>;
using CHttpResponse = CHttpResponseT<CHttpToolW>;
using CHttpPostStat = CHttpPostStatT<CHttpToolW>;
using CHttpClient = CHttpClientT<CHttpToolW, CHttpEncoderW>;

extern template class CHttpClientMapT<CHttpToolW>;
extern template class CHttpUrlAnalyzerT<CHttpToolW>;
extern template class CHttpResponseT<CHttpToolW>;
extern template class CHttpPostStatT<CHttpToolW>;
extern template class CHttpClientT<CHttpToolW, CHttpEncoderW>;

}  // namespace Kaver
