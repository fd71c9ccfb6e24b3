#include "http/HttpClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>

#include "platform/debug.h"
#include "platform/strings.h"

namespace Kaver {

namespace inet = platform::inet;

// ---------------------------------------------------------------------------------------------
// CHttpClientMapT

template <class HttpTool>
int CHttpClientMapT<HttpTool>::CompareName(const std::wstring& a, const std::wstring& b) {
    const auto fold = [](wchar_t c) -> uint32_t {
        return (c >= L'A' && c <= L'Z') ? static_cast<uint32_t>(c - L'A' + L'a') : static_cast<uint32_t>(c);
    };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t ca = fold(a[i]), cb = fold(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <class HttpTool>
void CHttpClientMapT<HttpTool>::Add(const wchar_t* szName, const wchar_t* szValue, uint32_t dwAttr) {
    if (szName == nullptr) ThrowArgumentErrorW(L"CHttpClientMapT::Add: szName can not be NULL.");
    if (m_entries.size() >= 0xFFFFFFFFu) ThrowHttpErrorW(HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW);
    Entry e;
    e.szName = szName;
    if (szValue != nullptr) e.szValue = szValue;
    e.dwAttr = dwAttr;
    // After every entry whose name is equal or smaller: equal names keep their insertion order.
    auto pos = std::upper_bound(m_entries.begin(), m_entries.end(), e.szName,
                                [](const std::wstring& name, const Entry& x) { return CompareName(name, x.szName) < 0; });
    m_entries.insert(pos, std::move(e));
}

template <class HttpTool>
const typename CHttpClientMapT<HttpTool>::Entry& CHttpClientMapT<HttpTool>::At(size_t nIdx) const {
    if (nIdx >= m_entries.size()) ThrowHttpErrorW(HTTPCLIENT_ERR_OUT_OF_RANGE);
    return m_entries[nIdx];
}

// ---------------------------------------------------------------------------------------------
// CHttpUrlAnalyzerT

template <class HttpTool>
CHttpUrlComponents CHttpUrlAnalyzerT<HttpTool>::Analyze(unsigned nCodePage, const wchar_t* szUrl) {
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(
            L"CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    CHttpUrlComponents c;
    if (szUrl == nullptr || *szUrl == L'\0') return c;
    const std::wstring_view url(szUrl);
    const auto at = [&](size_t i) -> uint32_t { return SafeCast<uint32_t>(i); };

    size_t i = 0;
    const size_t scheme = url.find(L"://");
    if (scheme != std::wstring_view::npos) {
        c.nSchemeLen = at(scheme);
        i = scheme + 3;
    }
    c.nHostIdx = at(i);
    if (i < url.size() && url[i] == L'/') {
        c.nPortIdx = at(i);
    } else {
        bool inPort = false;
        for (; i < url.size() && url[i] != L'/' && url[i] != L'#' && url[i] != L'?'; ++i) {
            if (!inPort && url[i] == L':') {
                inPort = true;
                c.nPortIdx = at(i + 1);
            } else if (inPort) {
                ++c.nPortLen;
            } else {
                ++c.nHostLen;
            }
        }
        if (!inPort) c.nPortIdx = at(i);
    }
    c.nPathIdx = at(i);
    for (; i < url.size() && url[i] != L'?' && url[i] != L'#'; ++i) ++c.nPathLen;
    c.nSearchIdx = at(i);
    if (i < url.size() && url[i] == L'?') {
        for (; i < url.size() && url[i] != L'#'; ++i) ++c.nSearchLen;
    }
    c.nBookmarkIdx = at(i);
    c.nBookmarkLen = at(url.size() - i);
    return c;
}

// ---------------------------------------------------------------------------------------------
// CHttpResponseT

template <class HttpTool>
CHttpResponseT<HttpTool>::~CHttpResponseT() {
    if (m_hRequest != nullptr) inet::InternetCloseHandle(m_hRequest);
    if (m_hConnection != nullptr) inet::InternetCloseHandle(m_hConnection);
    if (m_hInternet != nullptr) inet::InternetCloseHandle(m_hInternet);
}

template <class HttpTool>
bool CHttpResponseT<HttpTool>::GetContentLength(uint64_t& nLength) const {
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpResponseT::GetContentLength: m_hRequest can not be NULL.");
    uint64_t n = 0;
    if (!inet::HttpQueryContentLength(m_hRequest, &n)) {
        const uint32_t err = inet::LastError();
        if (err == inet::ERROR_HTTP_HEADER_NOT_FOUND) return false;
        ThrowHttpErrorW(HTTPCLIENT_ERR_QUERYINFO_FAILED, err);
    }
    nLength = n;
    return true;
}

template <class HttpTool>
bool CHttpResponseT<HttpTool>::GetContentLength(uint32_t& nLength) const {
    uint64_t n = 0;
    if (!GetContentLength(n)) return false;
    // A length that does not fit the 32-bit query fails as the query would.
    if (n > 0xFFFFFFFFull) ThrowHttpErrorW(HTTPCLIENT_ERR_QUERYINFO_FAILED, 122 /* ERROR_INSUFFICIENT_BUFFER */);
    nLength = static_cast<uint32_t>(n);
    return true;
}

template <class HttpTool>
uint32_t CHttpResponseT<HttpTool>::GetStatus() {
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpResponseT::GetStatus: m_hRequest can not be NULL.");
    if (!m_bStatusRead) {
        uint32_t status = 0;
        std::string text;
        if (!inet::HttpQueryStatusCode(m_hRequest, &status) || !inet::HttpQueryStatusText(m_hRequest, &text))
            ThrowHttpErrorW(HTTPCLIENT_ERR_QUERYINFO_FAILED, inet::LastError());
        m_dwStatus = status;
        m_szStatusText = platform::FromUtf8(text);
        m_bStatusRead = true;
    }
    return m_dwStatus;
}

template <class HttpTool>
const wchar_t* CHttpResponseT<HttpTool>::GetStatusText() {
    GetStatus();
    return m_szStatusText ? m_szStatusText->c_str() : L"";
}

template <class HttpTool>
bool CHttpResponseT<HttpTool>::GetHeader(const char* szName, std::string& szValue) const {
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpResponseT::GetHeader: m_hRequest can not be NULL.");
    if (inet::HttpQueryHeader(m_hRequest, szName, &szValue)) return true;
    const uint32_t err = inet::LastError();
    if (err == inet::ERROR_HTTP_HEADER_NOT_FOUND) return false;
    ThrowHttpErrorW(HTTPCLIENT_ERR_QUERYINFO_FAILED, err);
}

template <class HttpTool>
std::string CHttpResponseT<HttpTool>::GetProxy() const {
    std::string proxy;
    if (m_hRequest == nullptr || !inet::HttpQueryProxy(m_hRequest, &proxy)) return {};
    return proxy;
}

template <class HttpTool>
void CHttpResponseT<HttpTool>::ReadContent(uint8_t* pbyBuff, uint32_t cbyBuff, uint32_t& cbyRead) {
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpResponseT::ReadContent: m_hRequest can not be NULL.");
    cbyRead = 0;
    if (!inet::InternetReadFile(m_hRequest, pbyBuff, cbyBuff, &cbyRead))
        ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETREADFILE_FAILED, inet::LastError());
}

// ---------------------------------------------------------------------------------------------
// CHttpPostStatT

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_CheckActive(const wchar_t* szAccessor) const {
    if (m_bIsActive) return;
    const std::wstring msg = platform::FormatW(L"CHttpPostStatT::%s: The post context is not active.", szAccessor);
    ThrowArgumentErrorW(msg.c_str());
}

#define ORVO_POSTSTAT_ACCESSOR(Type, Name, Expr)            \
    template <class HttpTool>                               \
    Type CHttpPostStatT<HttpTool>::Name() const {           \
        _CheckActive(L## #Name);                            \
        return Expr;                                        \
    }

ORVO_POSTSTAT_ACCESSOR(uint32_t, ActualTotalByte, m_nActualTotalByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, ActualPostedByte, m_nActualPostedByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, TotalByte, m_nTotalByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, PostedByte, m_nPostedByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, TotalCount, m_nTotalCount)
ORVO_POSTSTAT_ACCESSOR(uint32_t, PostedCount, m_nPostedCount)
ORVO_POSTSTAT_ACCESSOR(uint32_t, FileCount, m_nFileCount)
ORVO_POSTSTAT_ACCESSOR(uint32_t, PostedFileCount, m_nPostedFileCount)
ORVO_POSTSTAT_ACCESSOR(const wchar_t*, CurrParam, m_szCurrParam ? m_szCurrParam->c_str() : nullptr)
ORVO_POSTSTAT_ACCESSOR(const wchar_t*, CurrFile, m_szCurrFile ? m_szCurrFile->c_str() : nullptr)
ORVO_POSTSTAT_ACCESSOR(uint32_t, CurrParamTotalByte, m_nCurrParamTotalByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, CurrParamPostedByte, m_nCurrParamPostedByte)
ORVO_POSTSTAT_ACCESSOR(uint32_t, CurrParamRemainByte, m_nCurrParamTotalByte - m_nCurrParamPostedByte)
ORVO_POSTSTAT_ACCESSOR(bool, CurrParamIsFile, m_szCurrFile.has_value())
ORVO_POSTSTAT_ACCESSOR(bool, CurrParamIsComplete, m_nCurrParamTotalByte == m_nCurrParamPostedByte)
#undef ORVO_POSTSTAT_ACCESSOR

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_MakeActive(uint32_t nActualTotal, uint32_t nTotal, uint32_t nTotalCount,
                                           uint32_t nFileCount) {
    _Clear();
    m_nActualTotalByte = nActualTotal;
    m_nTotalByte = nTotal;
    m_nTotalCount = nTotalCount;
    m_nFileCount = nFileCount;
    m_bIsActive = true;
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_TestAddActualPostedBytes(uint32_t nBytes) const {
    _CheckActive(L"_TestAddActualPostedBytes");
    SafeAdd(m_nActualPostedByte, nBytes);
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_AddActualPostedBytes(uint32_t nBytes) {
    m_nActualPostedByte += nBytes;
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_TestAddPostedBytes(uint32_t nBytes) const {
    _CheckActive(L"_TestAddPostedBytes");
    SafeAdd(m_nPostedByte, nBytes);
    SafeAdd(m_nCurrParamPostedByte, nBytes);
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_AddPostedBytes(uint32_t nBytes) {
    m_nPostedByte += nBytes;
    m_nCurrParamPostedByte += nBytes;
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_TestStartNewEntry(bool bIsFile) const {
    _CheckActive(L"_TestStartNewEntry");
    SafeAdd(m_nPostedCount, 1u);
    if (bIsFile) SafeAdd(m_nPostedFileCount, 1u);
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_StartNewEntry(const wchar_t* szName, uint32_t nTotal, const wchar_t* szFilePath) {
    ++m_nPostedCount;
    if (szFilePath != nullptr) {
        ++m_nPostedFileCount;
        m_szCurrFile = szFilePath;
    } else {
        m_szCurrFile.reset();
    }
    m_szCurrParam = szName != nullptr ? std::optional<std::wstring>(szName) : std::nullopt;
    m_nCurrParamTotalByte = nTotal;
    m_nCurrParamPostedByte = 0;
}

template <class HttpTool>
void CHttpPostStatT<HttpTool>::_Clear() {
    *this = CHttpPostStatT();
}

// ---------------------------------------------------------------------------------------------
// CHttpClientT

template <class T, class E>
CHttpClientT<T, E>::CHttpClientT() {
    try {
        CreateBoundary();
    } catch (...) {
        // Works on with the fixed boundary.
        m_szBoundary.reset();
        m_szBoundaryA.reset();
        m_szUploadContType.reset();
    }
}

template <class T, class E>
CHttpClientT<T, E>::~CHttpClientT() {
    _ReleasePostContext();
}

template <class T, class E>
void CHttpClientT<T, E>::CreateBoundary() {
    std::random_device rd;
    uint8_t guid[16];
    for (size_t i = 0; i < sizeof guid; i += 4) {
        const uint32_t r = rd();
        std::memcpy(guid + i, &r, 4);
    }
    // A random (version 4, variant 1) identifier.
    guid[6] = static_cast<uint8_t>((guid[6] & 0x0F) | 0x40);
    guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80);
    const uint32_t d1 = guid[0] | (guid[1] << 8) | (guid[2] << 16) | (static_cast<uint32_t>(guid[3]) << 24);
    const uint32_t d2 = guid[4] | (guid[5] << 8);
    const uint32_t d3 = guid[6] | (guid[7] << 8);
    std::wstring b = platform::FormatW(L"----MOVEL-%.08x%.04x%.04x%.02x%.02x%.02x%.02x%.02x%.02x%.02x%.02x-", d1, d2, d3,
                                       unsigned{guid[8]}, unsigned{guid[9]}, unsigned{guid[10]}, unsigned{guid[11]},
                                       unsigned{guid[12]}, unsigned{guid[13]}, unsigned{guid[14]}, unsigned{guid[15]});
    m_szUploadContType = L"multipart/form-data; boundary=" + b;
    m_szBoundaryA = E::AnsiEncode(m_nAnsiCodePage, b.c_str());
    m_szBoundary = std::move(b);
}

template <class T, class E>
const wchar_t* CHttpClientT<T, E>::GetUploadContentType() const {
    return m_szUploadContType ? m_szUploadContType->c_str() : kFixedUploadContentType;
}

template <class T, class E>
const std::string& CHttpClientT<T, E>::BoundaryA() const {
    static const std::string fixed = kFixedBoundary;
    return m_szBoundaryA ? *m_szBoundaryA : fixed;
}

namespace {

void Store(std::optional<std::wstring>& slot, const wchar_t* sz) {
    if (sz == nullptr)
        slot.reset();
    else if (!slot || *slot != sz)
        slot = sz;
}

}  // namespace

template <class T, class E>
void CHttpClientT<T, E>::SetOpenOptions(const wchar_t* szUserAgent, uint32_t dwAccessType, const wchar_t* szProxyName,
                                        const wchar_t* szProxyBypass, uint32_t dwFlags) {
    Store(m_szUserAgent, szUserAgent);
    m_dwAccessType = dwAccessType;
    Store(m_szProxyName, szProxyName);
    Store(m_szProxyBypass, szProxyBypass);
    m_dwFlags = dwFlags;
}

template <class T, class E>
void CHttpClientT<T, E>::SetProxyAccount(const wchar_t* szUserName, const wchar_t* szPassword) {
    Store(m_szProxyUserName, szUserName);
    Store(m_szProxyPassword, szPassword);
}

template <class T, class E>
void CHttpClientT<T, E>::AddParam(const wchar_t* szName, const wchar_t* szValue, uint32_t dwAttr) {
    if (m_objPostStat.IsActive())
        ThrowArgumentErrorW(L"CHttpClientT::AddParam: It is not allowed to call this method if the POST context is active.");
    m_mapParam.Add(szName, szValue, dwAttr);
}

template <class T, class E>
HINTERNET CHttpClientT<T, E>::OpenInternet() {
    const auto opt = [](const std::optional<std::wstring>& s) { return s ? s->c_str() : nullptr; };
    HINTERNET h = inet::InternetOpen(m_szUserAgent ? m_szUserAgent->c_str() : kDefaultUserAgent, m_dwAccessType,
                                     opt(m_szProxyName), opt(m_szProxyBypass), m_dwFlags);
    if (h == nullptr) ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETOPEN_FAILED, inet::LastError());
    return h;
}

template <class T, class E>
bool CHttpClientT<T, E>::IsHttps(const wchar_t* szUrl, const CHttpUrlComponents& c) const {
    return c.nSchemeLen == 5 && platform::EqualsNoCase(std::wstring_view(szUrl, 5), L"HTTPS");
}

template <class T, class E>
HINTERNET CHttpClientT<T, E>::OpenConnection(const wchar_t* szUrl, HINTERNET hInternet) {
    if (hInternet == nullptr) ThrowArgumentErrorW(L"CHttpClientT::OpenConnection: hInternet can not be NULL.");
    const CHttpUrlComponents c = CHttpUrlAnalyzerT<T>::Analyze(m_nAnsiCodePage, szUrl);
    // Any other scheme would be fetched as plain HTTP from its host: refused instead.
    if (c.nSchemeLen > 0) {
        const std::wstring scheme(szUrl + c.nSchemeIdx, c.nSchemeLen);
        if (!platform::EqualsNoCase(scheme, L"http") && !platform::EqualsNoCase(scheme, L"https")) {
            platform::OutputDebug(platform::FormatW(L"[CHttpClient] scheme [%s] refused: only http and https are fetched [%s]\n",
                                                    scheme, std::wstring(szUrl)));
            ThrowHttpErrorW(HTTPCLIENT_ERR_INVALID_URL);
        }
    }
    uint16_t port = IsHttps(szUrl, c) ? inet::INTERNET_DEFAULT_HTTPS_PORT : inet::INTERNET_DEFAULT_HTTP_PORT;
    if (c.nPortLen > 0) {
        if (c.nPortLen > 5) ThrowHttpErrorW(HTTPCLIENT_ERR_INVALID_PORT);
        uint32_t value = 0;
        for (uint32_t i = 0; i < c.nPortLen; ++i) {
            const wchar_t ch = szUrl[c.nPortIdx + i];
            if (ch < L'0' || ch > L'9') ThrowHttpErrorW(HTTPCLIENT_ERR_INVALID_PORT);
            value = value * 10 + static_cast<uint32_t>(ch - L'0');
        }
        if (value > 65535) ThrowHttpErrorW(HTTPCLIENT_ERR_INVALID_PORT);
        port = static_cast<uint16_t>(value);
    }
    if (c.nHostLen == 0) ThrowHttpErrorW(HTTPCLIENT_ERR_INVALID_URL);
    const std::wstring host(szUrl + c.nHostIdx, c.nHostLen);
    HINTERNET hConnection = T::OpenConnection(host.c_str(), hInternet, port);
    try {
        ApplyProxyAccount(hConnection);
    } catch (...) {
        inet::InternetCloseHandle(hConnection);
        throw;
    }
    return hConnection;
}

template <class T, class E>
void CHttpClientT<T, E>::ApplyProxyAccount(HINTERNET hConnection) {
    if (hConnection == nullptr) ThrowArgumentErrorW(L"CHttpClientT::ApplyProxyAccount: hConnection can not be NULL.");
    if (!m_szProxyUserName || m_szProxyUserName->empty() || !m_szProxyPassword || m_szProxyPassword->empty()) return;
    if (!inet::InternetSetOption(hConnection, inet::INTERNET_OPTION_PROXY_USERNAME, *m_szProxyUserName) ||
        !inet::InternetSetOption(hConnection, inet::INTERNET_OPTION_PROXY_PASSWORD, *m_szProxyPassword))
        ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETSETOPTION_FAILED, inet::LastError());
}

template <class T, class E>
HINTERNET CHttpClientT<T, E>::OpenRequest(const wchar_t* szUrl, HINTERNET hConnection, const wchar_t* szVerb,
                                          uint32_t dwFlags) {
    if (hConnection == nullptr) ThrowArgumentErrorW(L"CHttpClientT::OpenRequest: hConnection can not be NULL.");
    const CHttpUrlComponents c = CHttpUrlAnalyzerT<T>::Analyze(m_nAnsiCodePage, szUrl);
    if (szUrl != nullptr && IsHttps(szUrl, c)) dwFlags |= INTERNET_FLAG_SECURE;
    std::wstring object;
    if (szUrl != nullptr) {
        if (c.nPathLen > 0) {
            object.assign(szUrl + c.nPathIdx);
        } else {
            object = L"/";
            object.append(szUrl + c.nPathIdx);
        }
    }
    HINTERNET hRequest = T::OpenRequest(object.c_str(), m_nAnsiCodePage, hConnection, szVerb, dwFlags);
    try {
        if ((dwFlags & INTERNET_FLAG_PRAGMA_NOCACHE) != 0)
            T::AddHeader(hRequest, m_nAnsiCodePage, L"Cache-Control", L"no-cache");
    } catch (...) {
        inet::InternetCloseHandle(hRequest);
        throw;
    }
    return hRequest;
}

template <class T, class E>
void CHttpClientT<T, E>::AddRequestHeader(HINTERNET hRequest) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpClientT::AddRequestHeader: hRequest can not be NULL.");
    for (const auto& e : m_mapHeader)
        T::AddHeader(hRequest, m_nAnsiCodePage, e.szName.c_str(), e.szValue ? e.szValue->c_str() : nullptr);
}

template <class T, class E>
std::string CHttpClientT<T, E>::EncodeText(const wchar_t* szText) const {
    return m_bUseUtf8 ? E::Utf8Encode(szText) : E::AnsiEncode(m_nAnsiCodePage, szText);
}

template <class T, class E>
std::string CHttpClientT<T, E>::UrlEncodedName(const typename Map::Entry& e) const {
    if (e.dwAttr & CHttpClientMapAttrNameEncoded) return EncodeText(e.szName.c_str());
    return E::UrlEncode(e.szName.c_str(), m_bUseUtf8, m_nAnsiCodePage);
}

template <class T, class E>
std::string CHttpClientT<T, E>::UrlEncodedValue(const typename Map::Entry& e) const {
    const wchar_t* v = e.szValue ? e.szValue->c_str() : nullptr;
    if (e.dwAttr & CHttpClientMapAttrValueEncoded) return EncodeText(v);
    return E::UrlEncode(v, m_bUseUtf8, m_nAnsiCodePage);
}

template <class T, class E>
size_t CHttpClientT<T, E>::MakeGetUrlLen(const wchar_t* szUrl) {
    if (m_mapParam.Empty()) return szUrl == nullptr ? 0 : std::wcslen(szUrl);
    const CHttpUrlComponents c = CHttpUrlAnalyzerT<T>::Analyze(m_nAnsiCodePage, szUrl);
    size_t n = SafeAdd<size_t>(c.nPathIdx, c.nPathLen == 0 ? 1 : 0);
    n = SafeAdd<size_t>(n, c.nPathLen);
    n = SafeAdd<size_t>(n, c.nSearchLen);
    n = SafeAdd<size_t>(n, 1);
    bool first = true;
    for (const auto& e : m_mapParam) {
        if (!first) n = SafeAdd<size_t>(n, 1);
        first = false;
        const size_t name = (e.dwAttr & CHttpClientMapAttrNameEncoded)
                                ? e.szName.size()
                                : E::UrlEncodeLen(e.szName.c_str(), m_bUseUtf8, m_nAnsiCodePage);
        const wchar_t* v = e.szValue ? e.szValue->c_str() : nullptr;
        const size_t value = (e.dwAttr & CHttpClientMapAttrValueEncoded) ? (v ? e.szValue->size() : 0)
                                                                           : E::UrlEncodeLen(v, m_bUseUtf8, m_nAnsiCodePage);
        n = SafeAdd(n, SafeAdd(SafeAdd(name, value), size_t{1}));
    }
    return SafeAdd<size_t>(n, c.nBookmarkLen);
}

template <class T, class E>
wchar_t* CHttpClientT<T, E>::MakeGetUrl(wchar_t* szBuff, const wchar_t* szUrl) {
    if (szBuff == nullptr) ThrowArgumentErrorW(L"CHttpClientT::MakeGetUrl: szBuff can not be NULL.");
    std::wstring out;
    if (m_mapParam.Empty() || szUrl == nullptr) {
        if (szUrl != nullptr) out = szUrl;
    } else {
        const CHttpUrlComponents c = CHttpUrlAnalyzerT<T>::Analyze(m_nAnsiCodePage, szUrl);
        const std::wstring_view url(szUrl);
        out.append(url.substr(0, c.nPathIdx));
        if (c.nPathLen == 0) out += L'/';
        out.append(url.substr(c.nPathIdx, c.nPathLen));
        out.append(url.substr(c.nSearchIdx, c.nSearchLen));
        out += c.nSearchLen > 0 ? L'&' : L'?';
        const auto widen = [](const std::string& s) { return std::wstring(s.begin(), s.end()); };
        bool first = true;
        for (const auto& e : m_mapParam) {
            if (!first) out += L'&';
            first = false;
            if (e.dwAttr & CHttpClientMapAttrNameEncoded)
                out += e.szName;
            else
                out += widen(E::UrlEncode(e.szName.c_str(), m_bUseUtf8, m_nAnsiCodePage));
            out += L'=';
            const wchar_t* v = e.szValue ? e.szValue->c_str() : nullptr;
            if (e.dwAttr & CHttpClientMapAttrValueEncoded) {
                if (v != nullptr) out += v;
            } else {
                out += widen(E::UrlEncode(v, m_bUseUtf8, m_nAnsiCodePage));
            }
        }
        out.append(url.substr(c.nBookmarkIdx));
    }
    std::memcpy(szBuff, out.c_str(), (out.size() + 1) * sizeof(wchar_t));
    return szBuff;
}

namespace {

// Closes whatever handles are still held when a request fails half-way.
struct HandleGuard {
    HINTERNET h[3] = {nullptr, nullptr, nullptr};
    ~HandleGuard() {
        for (int i = 2; i >= 0; --i)
            if (h[i] != nullptr) inet::InternetCloseHandle(h[i]);
    }
    void Release() { h[0] = h[1] = h[2] = nullptr; }
};

}  // namespace

template <class T, class E>
typename CHttpClientT<T, E>::Response* CHttpClientT<T, E>::SendGetRequest(const wchar_t* szUrl, uint32_t dwFlags) {
    _ReleasePostContext();
    HandleGuard g;
    try {
        g.h[0] = OpenInternet();
        g.h[1] = OpenConnection(szUrl, g.h[0]);
        std::wstring url;
        if (!m_mapParam.Empty()) {
            std::vector<wchar_t> buff(SafeAdd<size_t>(MakeGetUrlLen(szUrl), 1));
            url = MakeGetUrl(buff.data(), szUrl);
        } else if (szUrl != nullptr) {
            url = szUrl;
        }
        g.h[2] = OpenRequest(url.c_str(), g.h[1], L"GET", dwFlags);
        AddRequestHeader(g.h[2]);
        T::SendRequest(m_nAnsiCodePage, g.h[2]);
        auto* r = new Response(g.h[0], g.h[1], g.h[2]);
        g.Release();
        return r;
    } catch (...) {
        RethrowAsHttpError();
    }
}

// --- POST context -------------------------------------------------------------------------------

template <class T, class E>
uint32_t CHttpClientT<T, E>::_CalcPostBodyLen() const {
    uint32_t n = 0;
    bool first = true;
    for (const auto& e : m_mapParam) {
        if (!first) n = SafeAdd(n, 1u);
        first = false;
        n = SafeAdd(n, SafeCast<uint32_t>(UrlEncodedName(e).size()));
        n = SafeAdd(n, 1u);
        n = SafeAdd(n, SafeCast<uint32_t>(UrlEncodedValue(e).size()));
    }
    return n;
}

namespace {

std::string PartHeader(const std::string& boundary, const std::string& name) {
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" + name;
}

}  // namespace

template <class T, class E>
uint32_t CHttpClientT<T, E>::_CalcUploadBodyLen(uint32_t& nDataLen, std::vector<platform::File>& files,
                                                std::vector<std::string>& mimes, std::vector<uint32_t>& sizes) const {
    const uint32_t b = SafeCast<uint32_t>(BoundaryA().size());
    nDataLen = 0;
    if (m_mapParam.Empty()) return SafeAdd(b, 8u);
    uint32_t n = 0;
    for (const auto& e : m_mapParam) {
        const uint32_t name = SafeCast<uint32_t>(EncodeText(e.szName.c_str()).size());
        const wchar_t* v = e.szValue ? e.szValue->c_str() : nullptr;
        const uint32_t value = SafeCast<uint32_t>(EncodeText(v).size());
        if (e.dwAttr & CHttpClientMapAttrFile) {
            files.push_back(T::OpenFile(v != nullptr ? v : L""));
            platform::File& f = files.back();
            const uint32_t size = f.IsOpen() ? T::GetFileSize(&f, v) : 0;
            mimes.push_back(T::GetMimeType(m_nAnsiCodePage, &f));
            sizes.push_back(size);
            uint32_t part = SafeAdd(SafeAdd(b, 4u + 72u), SafeAdd(name, value));
            part = SafeAdd(SafeAdd(part, SafeCast<uint32_t>(mimes.back().size())), SafeAdd(size, 2u));
            n = SafeAdd(n, part);
            nDataLen = SafeAdd(nDataLen, size);
        } else {
            n = SafeAdd(n, SafeAdd(SafeAdd(b, 4u + 43u), SafeAdd(SafeAdd(name, value), 2u)));
            nDataLen = SafeAdd(nDataLen, value);
        }
    }
    return SafeAdd(n, SafeAdd(b, 6u));
}

template <class T, class E>
void CHttpClientT<T, E>::StartPostContext(const wchar_t* szUrl, uint32_t dwFlags) {
    _StartContext(szUrl, dwFlags, false);
}

template <class T, class E>
void CHttpClientT<T, E>::StartUploadContext(const wchar_t* szUrl, uint32_t dwFlags) {
    _StartContext(szUrl, dwFlags, true);
}

template <class T, class E>
void CHttpClientT<T, E>::_StartContext(const wchar_t* szUrl, uint32_t dwFlags, bool bUpload) {
    _ReleasePostContext();
    HandleGuard g;
    try {
        std::vector<platform::File> files;
        std::vector<std::string> mimes;
        std::vector<uint32_t> sizes;
        uint32_t nData = 0;
        uint32_t nBody = 0;
        uint32_t nFiles = 0;
        if (bUpload) {
            nBody = _CalcUploadBodyLen(nData, files, mimes, sizes);
            nFiles = SafeCast<uint32_t>(files.size());
        } else {
            nBody = _CalcPostBodyLen();
            for (const auto& e : m_mapParam) nData = SafeAdd(nData, SafeCast<uint32_t>(UrlEncodedValue(e).size()));
        }
        g.h[0] = OpenInternet();
        g.h[1] = OpenConnection(szUrl, g.h[0]);
        g.h[2] = OpenRequest(szUrl, g.h[1], L"POST", dwFlags);
        AddRequestHeader(g.h[2]);
        T::AddHeader(g.h[2], m_nAnsiCodePage, L"Content-Type",
                     bUpload ? GetUploadContentType() : L"application/x-www-form-urlencoded");
        T::SendRequestEx(g.h[2], nBody);

        m_objPostStat._MakeActive(nBody, nData, SafeCast<uint32_t>(m_mapParam.Count()), nFiles);
        m_objInitialStat = m_objPostStat;
        m_hInternet = g.h[0];
        m_hConnection = g.h[1];
        m_hRequest = g.h[2];
        m_bBorrowedInternet = m_bBorrowedConnection = false;
        g.Release();
        m_arrFiles = std::move(files);
        m_arrMimeTypes = std::move(mimes);
        m_arrFileSizes = std::move(sizes);
        m_bIsPost = !bUpload;
        m_szCurrValue.clear();
        m_nCurrValuePos = 0;
    } catch (...) {
        RethrowAsHttpError();
    }
}

template <class T, class E>
typename CHttpClientT<T, E>::Response* CHttpClientT<T, E>::ContinuePost() {
    if (!m_objPostStat.IsActive()) ThrowHttpErrorW(HTTPCLIENT_ERR_POST_NOT_STARTED);
    try {
        return m_bIsPost ? _ProceedPostContext() : _ProceedUploadContext();
    } catch (...) {
        _ReleasePostContext();
        RethrowAsHttpError();
    }
}

template <class T, class E>
void CHttpClientT<T, E>::_WritePost(const uint8_t* pbyBuff, size_t cbyBuff, bool bIsParamData) {
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpClientT::_WritePost: m_hRequest can not be NULL.");
    if (pbyBuff == nullptr || cbyBuff == 0) return;
    const uint32_t n = SafeCast<uint32_t>(cbyBuff);
    m_objPostStat._TestAddActualPostedBytes(n);
    if (bIsParamData) m_objPostStat._TestAddPostedBytes(n);
    T::InternetWriteFile(m_hRequest, pbyBuff, n);
    m_objPostStat._AddActualPostedBytes(n);
    if (bIsParamData) m_objPostStat._AddPostedBytes(n);
}

template <class T, class E>
void CHttpClientT<T, E>::_WritePost(const std::string& szText, bool bIsParamData) {
    _WritePost(reinterpret_cast<const uint8_t*>(szText.data()), szText.size(), bIsParamData);
}

template <class T, class E>
typename CHttpClientT<T, E>::Response* CHttpClientT<T, E>::_ProceedPostContext() {
    if (m_hInternet == nullptr) ThrowArgumentErrorW(L"CHttpClientT::_ProceedPostContext: m_hInternet can not be NULL.");
    if (m_hConnection == nullptr)
        ThrowArgumentErrorW(L"CHttpClientT::_ProceedPostContext: m_hConnection can not be NULL.");
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpClientT::_ProceedPostContext: m_hRequest can not be NULL.");
    auto& st = m_objPostStat;
    if (st.CurrParamIsComplete()) {
        if (st.AllParamsStarted()) {
            T::EndRequest(m_hRequest);
            return _ReleasePostResponse();
        }
        const uint32_t idx = st.PostedCount();
        const auto& e = m_mapParam.At(idx);
        if (idx > 0) _WritePost("&");
        _WritePost(UrlEncodedName(e));
        _WritePost("=");
        m_szCurrValue = UrlEncodedValue(e);
        m_nCurrValuePos = 0;
        st._TestStartNewEntry(false);
        st._StartNewEntry(e.szName.c_str(), SafeCast<uint32_t>(m_szCurrValue.size()), nullptr);
        return nullptr;
    }
    const uint32_t n = std::min(kPostStep, st.CurrParamRemainByte());
    _WritePost(reinterpret_cast<const uint8_t*>(m_szCurrValue.data()) + m_nCurrValuePos, n, true);
    m_nCurrValuePos += n;
    return nullptr;
}

template <class T, class E>
uint32_t CHttpClientT<T, E>::_ReadFileData(uint8_t* pbyOut, uint32_t cbyWanted) {
    if (!m_pbyFileBuff) m_pbyFileBuff.reset(new uint8_t[kFileBufferSize]);
    if (m_cbyFileBuffPos == m_cbyFileBuffFill) {
        const uint32_t want = std::min(kFileBufferSize, m_objPostStat.CurrParamRemainByte());
        platform::File& f = m_arrFiles.at(m_objPostStat.PostedFileCount() - 1);
        uint32_t got = 0;
        while (got < want) {
            const int64_t r = f.IsOpen() ? f.Read(m_pbyFileBuff.get() + got, want - got) : 0;
            if (r < 0) ThrowHttpErrorW(HTTPCLIENT_ERR_READFILE_FAILED, f.LastError());
            if (r == 0) break;
            got += static_cast<uint32_t>(r);
        }
        // The file became shorter than the length already announced.
        if (got < want) ThrowHttpErrorW(HTTPCLIENT_ERR_READ_UNEXPECTED_SIZE);
        m_cbyFileBuffFill = got;
        m_cbyFileBuffPos = 0;
    }
    const uint32_t n = std::min(cbyWanted, m_cbyFileBuffFill - m_cbyFileBuffPos);
    std::memcpy(pbyOut, m_pbyFileBuff.get() + m_cbyFileBuffPos, n);
    m_cbyFileBuffPos += n;
    return n;
}

template <class T, class E>
typename CHttpClientT<T, E>::Response* CHttpClientT<T, E>::_ProceedUploadContext() {
    if (m_hInternet == nullptr)
        ThrowArgumentErrorW(L"CHttpClientT::_ProceedUploadContext: m_hInternet can not be NULL.");
    if (m_hConnection == nullptr)
        ThrowArgumentErrorW(L"CHttpClientT::_ProceedUploadContext: m_hConnection can not be NULL.");
    if (m_hRequest == nullptr) ThrowArgumentErrorW(L"CHttpClientT::_ProceedUploadContext: m_hRequest can not be NULL.");
    auto& st = m_objPostStat;
    const std::string& b = BoundaryA();
    if (st.ActualPostedByte() == st.ActualTotalByte()) {
        T::EndRequest(m_hRequest);
        return _ReleasePostResponse();
    }
    const bool hasParams = st.TotalCount() > 0;
    if (hasParams && !st.CurrParamIsComplete()) {
        uint8_t piece[kPostStep];
        const uint32_t want = std::min(kPostStep, st.CurrParamRemainByte());
        if (st.CurrParamIsFile()) {
            uint32_t got = 0;
            while (got < want) got += _ReadFileData(piece + got, want - got);
            _WritePost(piece, want, true);
        } else {
            _WritePost(reinterpret_cast<const uint8_t*>(m_szCurrValue.data()) + m_nCurrValuePos, want, true);
            m_nCurrValuePos += want;
        }
        if (st.CurrParamIsComplete()) _WritePost("\r\n");
        return nullptr;
    }
    if (hasParams && !st.AllParamsStarted()) {
        const auto& e = m_mapParam.At(st.PostedCount());
        const wchar_t* v = e.szValue ? e.szValue->c_str() : nullptr;
        std::string header = PartHeader(b, EncodeText(e.szName.c_str()));
        uint32_t size = 0;
        const bool isFile = (e.dwAttr & CHttpClientMapAttrFile) != 0;
        if (isFile) {
            const uint32_t fileIdx = st.PostedFileCount();
            header += "\"; filename=\"" + EncodeText(v) + "\"\r\nContent-Type: " + m_arrMimeTypes.at(fileIdx) + "\r\n\r\n";
            size = m_arrFileSizes.at(fileIdx);
            m_cbyFileBuffFill = m_cbyFileBuffPos = 0;
        } else {
            m_szCurrValue = EncodeText(v);
            m_nCurrValuePos = 0;
            header += "\"\r\n\r\n";
            size = SafeCast<uint32_t>(m_szCurrValue.size());
        }
        _WritePost(header);
        st._TestStartNewEntry(isFile);
        st._StartNewEntry(e.szName.c_str(), size, isFile ? (v != nullptr ? v : L"") : nullptr);
        if (size == 0) _WritePost("\r\n");
        return nullptr;
    }
    _WritePost(hasParams ? "--" + b + "--\r\n" : "\r\n--" + b + "--\r\n");
    return nullptr;
}

template <class T, class E>
typename CHttpClientT<T, E>::Response* CHttpClientT<T, E>::_ReleasePostResponse() {
    if (!m_objPostStat.IsActive())
        ThrowArgumentErrorW(L"CHttpClientT::_ReleasePostResponse: The post context is not active.");
    HINTERNET hInternet = m_bBorrowedInternet ? nullptr : m_hInternet;
    HINTERNET hConnection = m_bBorrowedConnection ? nullptr : m_hConnection;
    HINTERNET hRequest = m_hRequest;
    m_hInternet = m_hConnection = m_hRequest = nullptr;
    _ReleasePostContext();
    auto* r = new (std::nothrow) Response(hInternet, hConnection, hRequest);
    if (r == nullptr) {
        for (HINTERNET h : {hRequest, hConnection, hInternet})
            if (h != nullptr) inet::InternetCloseHandle(h);
        ThrowHttpErrorW(HTTPCLIENT_ERR_OUT_OF_MEMORY);
    }
    return r;
}

template <class T, class E>
void CHttpClientT<T, E>::_ReleasePostContext() noexcept {
    if (m_hRequest != nullptr) inet::InternetCloseHandle(m_hRequest);
    if (m_hConnection != nullptr && !m_bBorrowedConnection) inet::InternetCloseHandle(m_hConnection);
    if (m_hInternet != nullptr && !m_bBorrowedInternet) inet::InternetCloseHandle(m_hInternet);
    m_hRequest = m_hConnection = m_hInternet = nullptr;
    m_bBorrowedInternet = m_bBorrowedConnection = false;
    m_arrFiles.clear();
    m_arrMimeTypes.clear();
    m_arrFileSizes.clear();
    m_szCurrValue.clear();
    m_nCurrValuePos = 0;
    m_pbyFileBuff.reset();
    m_cbyFileBuffFill = m_cbyFileBuffPos = 0;
    m_objPostStat._Clear();
    m_objInitialStat._Clear();
}

template class CHttpClientMapT<CHttpToolW>;
template class CHttpUrlAnalyzerT<CHttpToolW>;
template class CHttpResponseT<CHttpToolW>;
template class CHttpPostStatT<CHttpToolW>;
template class CHttpClientT<CHttpToolW, CHttpEncoderW>;

}  // namespace Kaver
