#include "platform/inet.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>
#include <new>
#include <set>
#include <utility>

// <wininet.h> maps these names onto its A/W functions; here they are ours.
#undef InternetOpen
#undef InternetConnect
#undef InternetSetOption
#undef HttpOpenRequest
#undef HttpAddRequestHeaders
#undef HttpSendRequest
#undef HttpSendRequestEx
#undef HttpEndRequest

namespace platform::inet {

// Our handle wraps WinINet's, so that a request closed by CancelTransfers() on another thread
// is never closed twice: its owner's later calls fail with 12017 and its close only frees this.
struct InternetObject {
    ::HINTERNET native = nullptr;
    bool bRequest = false;
    std::atomic<bool> bCancelled{false};
    Timeouts timeouts;  // as set on this handle; its children start with them
    // What a redirect needs to send the request again elsewhere: for a connection its internet
    // handle, server and port; for a request its connection, where it went last and what was
    // asked.
    InternetObject* parent = nullptr;
    std::wstring server;
    uint16_t port = 0;
    std::string verb, object, headers;
    uint32_t flags = 0;
    ::HINTERNET redirectConnection = nullptr;  // opened for the last hop, closed with the request
};

namespace {

thread_local uint32_t t_lastError = 0;

std::mutex g_requestsLock;
std::set<InternetObject*> g_requests;  // requests open now, the ones a cancel closes

// Records the error of the WinINet call that just failed. Wine's WinINet lets some socket errors
// through as they are; callers know the WinINet numbers.
bool Failed() {
    const auto err = static_cast<uint32_t>(::GetLastError());
    switch (err) {
        case 10060: t_lastError = ERROR_INTERNET_TIMEOUT; break;              // WSAETIMEDOUT
        case 10053: t_lastError = ERROR_INTERNET_CONNECTION_ABORTED; break;  // WSAECONNABORTED
        case 10054: t_lastError = ERROR_INTERNET_CONNECTION_RESET; break;    // WSAECONNRESET
        case 10061: t_lastError = ERROR_INTERNET_CANNOT_CONNECT; break;      // WSAECONNREFUSED
        default: t_lastError = err;
    }
    return false;
}

bool Fail(uint32_t nError) {
    t_lastError = nError;
    return false;
}

// The native handle, or null (with 12017) once a cancel closed it.
::HINTERNET Native(HINTERNET h) {
    if (h == nullptr) {
        Fail(ERROR_INVALID_HANDLE_);
        return nullptr;
    }
    if (h->bCancelled.load()) {
        Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        return nullptr;
    }
    return h->native;
}

// A failed call on a request that a cancel closed meanwhile reports the cancel.
bool FailedOn(HINTERNET h) {
    Failed();
    if (h != nullptr && h->bCancelled.load()) t_lastError = ERROR_INTERNET_OPERATION_CANCELLED;
    return false;
}

HINTERNET Wrap(::HINTERNET h, bool bRequest, const Timeouts& timeouts) {
    if (h == nullptr) {
        Failed();
        return nullptr;
    }
    auto* o = new (std::nothrow) InternetObject();
    if (o == nullptr) {
        ::InternetCloseHandle(h);
        Fail(ERROR_NOT_ENOUGH_MEMORY_);
        return nullptr;
    }
    o->native = h;
    o->bRequest = bRequest;
    o->timeouts = timeouts;
    if (bRequest) {
        std::lock_guard lock(g_requestsLock);
        g_requests.insert(o);
    }
    return o;
}

bool SetDword(::HINTERNET h, DWORD nOption, DWORD nValue) {
    return ::InternetSetOptionW(h, nOption, &nValue, sizeof nValue) != FALSE || Failed();
}

// Wine honours a time-out only on the handle it was set on (a request takes its connection's
// when opened), not on the internet handle: every handle is given the values itself.
void ApplyTimeouts(::HINTERNET h, const Timeouts& t) {
    SetDword(h, INTERNET_OPTION_CONNECT_TIMEOUT, t.connectMs);
    SetDword(h, INTERNET_OPTION_SEND_TIMEOUT, t.sendMs);
    SetDword(h, INTERNET_OPTION_RECEIVE_TIMEOUT, t.receiveMs);
}

}  // namespace

uint32_t LastError() { return t_lastError; }

HINTERNET InternetOpen(const wchar_t* szAgent, uint32_t nAccessType, const wchar_t* szProxy,
                       const wchar_t* szProxyBypass, uint32_t nFlags) {
    ::HINTERNET h = ::InternetOpenW(szAgent, nAccessType, szProxy, szProxyBypass, nFlags);
    const Timeouts t = DefaultTimeouts();
    if (h != nullptr) ApplyTimeouts(h, t);
    return Wrap(h, false, t);
}

HINTERNET InternetConnect(HINTERNET hInternet, const wchar_t* szServerName, uint16_t nPort) {
    ::HINTERNET parent = Native(hInternet);
    if (parent == nullptr) return nullptr;
    ::HINTERNET h = ::InternetConnectW(parent, szServerName, nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (h != nullptr) ApplyTimeouts(h, hInternet->timeouts);
    HINTERNET o = Wrap(h, false, hInternet->timeouts);
    if (o != nullptr) {
        o->parent = hInternet;
        o->server = szServerName != nullptr ? szServerName : L"";
        o->port = nPort;
    }
    return o;
}

bool InternetSetOption(HINTERNET hAny, uint32_t nOption, uint32_t nValue) {
    ::HINTERNET h = Native(hAny);
    if (h == nullptr) return false;
    switch (nOption) {
        case INTERNET_OPTION_CONNECT_TIMEOUT: hAny->timeouts.connectMs = nValue; break;
        case INTERNET_OPTION_SEND_TIMEOUT: hAny->timeouts.sendMs = nValue; break;
        case INTERNET_OPTION_RECEIVE_TIMEOUT: hAny->timeouts.receiveMs = nValue; break;
        default: return SetDword(h, nOption, nValue);
    }
    // A request takes its time-outs when it connects; before that WinINet may refuse them.
    SetDword(h, nOption, nValue);
    return true;
}

bool InternetSetOption(HINTERNET hAny, uint32_t nOption, const std::wstring& szValue) {
    ::HINTERNET h = Native(hAny);
    return h != nullptr && (::InternetSetOptionW(h, nOption, const_cast<wchar_t*>(szValue.c_str()),
                                                 static_cast<DWORD>(szValue.size())) != FALSE ||
                            Failed());
}

HINTERNET HttpOpenRequest(HINTERNET hConnection, std::string_view szVerb, std::string_view szObjectName,
                          uint32_t nFlags) {
    if (TransfersCancelled()) {  // until ResetCancel, no request opens
        Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        return nullptr;
    }
    // The object name goes out escaped, so that the A call passes its bytes through unchanged.
    const std::string verb(szVerb);
    const std::string object = EscapeObjectName(szObjectName);
    const char* accept[] = {"*/*", nullptr};
    ::HINTERNET parent = Native(hConnection);
    if (parent == nullptr) return nullptr;
    // Redirects are followed here, not by WinINet, which under Wine follows a loop forever.
    ::HINTERNET h = ::HttpOpenRequestA(parent, verb.c_str(), object.c_str(), "HTTP/1.1", nullptr, accept,
                                       nFlags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
    if (h != nullptr) ApplyTimeouts(h, hConnection->timeouts);
    HINTERNET o = Wrap(h, true, hConnection->timeouts);
    if (o != nullptr) {
        o->parent = hConnection;
        o->verb = verb;
        o->object = object;
        o->flags = nFlags;
        o->server = hConnection->server;
        o->port = hConnection->port;
    }
    return o;
}

namespace {

constexpr int kMaxRedirects = 10;  // as the Linux transport

bool IsRedirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

std::wstring Widen(std::string_view s) { return std::wstring(s.begin(), s.end()); }

// The address the response's Location names, when the response is a redirect with one.
bool RedirectTarget(::HINTERNET h, const InternetObject& r, std::wstring* pszUrl) {
    DWORD status = 0, size = sizeof status;
    if (!::HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) || !IsRedirect(status))
        return false;
    std::wstring location(2048, L'\0');
    size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(h, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) return false;
    location.resize(size / sizeof(wchar_t));
    const bool secure = (r.flags & INTERNET_FLAG_SECURE) != 0;
    const std::wstring base = std::wstring(secure ? L"https://" : L"http://") + r.server + L":" + std::to_wstring(r.port) + Widen(r.object);
    std::wstring url(4096, L'\0');
    DWORD len = static_cast<DWORD>(url.size());
    if (!::InternetCombineUrlW(base.c_str(), location.c_str(), url.data(), &len, ICU_NO_ENCODE)) return false;
    url.resize(len);
    *pszUrl = std::move(url);
    return true;
}

// Sends the request again to szUrl on a connection of its own; the old request is closed.
bool Reopen(HINTERNET hRequest, const std::wstring& szUrl) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256], path[4096], extra[4096];
    parts.lpszHostName = host;
    parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = static_cast<DWORD>(std::size(extra));
    if (!::InternetCrackUrlW(szUrl.c_str(), static_cast<DWORD>(szUrl.size()), 0, &parts)) return Fail(ERROR_HTTP_REDIRECT_FAILED);
    const bool wasSecure = (hRequest->flags & INTERNET_FLAG_SECURE) != 0;
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    // Only http and https, and never from https down to plain http.
    if ((!secure && parts.nScheme != INTERNET_SCHEME_HTTP) || (wasSecure && !secure)) return Fail(ERROR_HTTP_REDIRECT_FAILED);
    std::string object;
    for (const wchar_t* p : {path, extra})
        for (; *p != 0; ++p) {
            if (*p > 0xFF) return Fail(ERROR_HTTP_REDIRECT_FAILED);
            object += static_cast<char>(*p);
        }
    if (object.empty()) object = "/";
    object = EscapeObjectName(object);

    ::HINTERNET internet = Native(hRequest->parent->parent);
    if (internet == nullptr) return false;
    ::HINTERNET connection = ::InternetConnectW(internet, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return Failed();
    ApplyTimeouts(connection, hRequest->timeouts);
    const char* accept[] = {"*/*", nullptr};
    const uint32_t flags = (hRequest->flags & ~static_cast<uint32_t>(INTERNET_FLAG_SECURE)) | (secure ? INTERNET_FLAG_SECURE : 0);
    ::HINTERNET request = ::HttpOpenRequestA(connection, hRequest->verb.c_str(), object.c_str(), "HTTP/1.1", nullptr, accept,
                                             flags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
    if (request == nullptr) {
        Failed();
        ::InternetCloseHandle(connection);
        return false;
    }
    ApplyTimeouts(request, hRequest->timeouts);
    if (!hRequest->headers.empty() &&
        !::HttpAddRequestHeadersA(request, hRequest->headers.data(), static_cast<DWORD>(hRequest->headers.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
        Failed();
        ::InternetCloseHandle(request);
        ::InternetCloseHandle(connection);
        return false;
    }
    ::HINTERNET oldRequest = nullptr, oldConnection = nullptr;
    {
        // A cancel closes the request it finds under this lock: it finds the old or the new one.
        std::lock_guard lock(g_requestsLock);
        if (!hRequest->bCancelled.load()) {
            oldRequest = std::exchange(hRequest->native, request);
            oldConnection = std::exchange(hRequest->redirectConnection, connection);
            request = connection = nullptr;
        }
    }
    if (request != nullptr) {
        ::InternetCloseHandle(request);
        ::InternetCloseHandle(connection);
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    }
    hRequest->flags = flags;
    hRequest->object = object;
    hRequest->server.assign(host);  // the base of a later relative Location
    hRequest->port = parts.nPort;
    ::InternetCloseHandle(oldRequest);
    if (oldConnection != nullptr) ::InternetCloseHandle(oldConnection);
    return true;
}

}  // namespace

bool HttpAddRequestHeaders(HINTERNET hRequest, std::string_view szHeaders) {
    ::HINTERNET h = Native(hRequest);
    const bool ok = h != nullptr && (::HttpAddRequestHeadersA(h, szHeaders.data(), static_cast<DWORD>(szHeaders.size()),
                                                              HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) != FALSE ||
                                     FailedOn(hRequest));
    if (ok) hRequest->headers.append(szHeaders);
    return ok;
}

bool HttpSendRequest(HINTERNET hRequest) {
    const bool follow = (hRequest != nullptr && (hRequest->flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0);
    for (int hops = 0;; ++hops) {
        ::HINTERNET h = Native(hRequest);
        if (h == nullptr || !(::HttpSendRequestW(h, nullptr, 0, nullptr, 0) != FALSE || FailedOn(hRequest))) return false;
        std::wstring target;
        if (!follow || !RedirectTarget(h, *hRequest, &target)) return true;
        if (hops == kMaxRedirects) return Fail(ERROR_HTTP_REDIRECT_FAILED);
        if (!Reopen(hRequest, target)) return false;
    }
}

bool HttpSendRequestEx(HINTERNET hRequest, uint64_t nTotalBytes) {
    if (nTotalBytes > 0xFFFFFFFFull) {  // the announced length is a DWORD here
        t_lastError = ERROR_INVALID_PARAMETER_;
        return false;
    }
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(nTotalBytes);
    ::HINTERNET h = Native(hRequest);
    return h != nullptr && (::HttpSendRequestExW(h, &buffers, nullptr, 0, 0) != FALSE || FailedOn(hRequest));
}

bool InternetWriteFile(HINTERNET hRequest, const void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyWritten) {
    DWORD written = 0;
    ::HINTERNET h = Native(hRequest);
    const bool ok = h != nullptr && (::InternetWriteFile(h, pbyBuff, cbyBuff, &written) != FALSE || FailedOn(hRequest));
    if (pcbyWritten != nullptr) *pcbyWritten = written;
    return ok;
}

bool HttpEndRequest(HINTERNET hRequest) {
    ::HINTERNET h = Native(hRequest);
    return h != nullptr && (::HttpEndRequestW(h, nullptr, 0, 0) != FALSE || FailedOn(hRequest));
}

bool InternetReadFile(HINTERNET hRequest, void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyRead) {
    DWORD read = 0;
    ::HINTERNET h = Native(hRequest);
    // A plain read waits until the whole buffer is filled, however slowly the bytes come; asked
    // for what has arrived, it returns as soon as there is anything, so a cancel is noticed
    // between two pieces. No bytes available means the body ended.
    DWORD available = 0;
    bool ok = h != nullptr && (::InternetQueryDataAvailable(h, &available, 0, 0) != FALSE || FailedOn(hRequest));
    if (ok && !hRequest->bCancelled.load()) {
        const DWORD want = available == 0 ? cbyBuff : std::min<DWORD>(available, cbyBuff);
        ok = ::InternetReadFile(h, pbyBuff, want, &read) != FALSE || FailedOn(hRequest);
    }
    // A read that a cancel overtook counts as cancelled, whatever it returned.
    if (ok && hRequest->bCancelled.load()) {
        ok = Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        read = 0;
    }
    if (pcbyRead != nullptr) *pcbyRead = read;
    return ok;
}

bool HttpQueryContentLength(HINTERNET hRequest, uint64_t* pnLength) {
    // As text: the numeric form is 32 bits.
    char text[32];
    DWORD size = sizeof text;
    ::HINTERNET h = Native(hRequest);
    if (h == nullptr) return false;
    if (!::HttpQueryInfoA(h, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return FailedOn(hRequest);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text, text + size, value);
    if (ec != std::errc() || end != text + size) {
        t_lastError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return false;
    }
    *pnLength = value;
    return true;
}

bool HttpQueryStatusCode(HINTERNET hRequest, uint32_t* pnStatus) {
    DWORD status = 0;
    DWORD size = sizeof status;
    ::HINTERNET h = Native(hRequest);
    if (h == nullptr) return false;
    if (!::HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return FailedOn(hRequest);
    *pnStatus = status;
    return true;
}

bool HttpQueryStatusText(HINTERNET hRequest, std::string* pszText) {
    std::string text(256, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    ::HINTERNET h = Native(hRequest);
    if (h == nullptr) return false;
    while (!::HttpQueryInfoA(h, HTTP_QUERY_STATUS_TEXT, text.data(), &size, nullptr)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HTTP_HEADER_NOT_FOUND) {
            pszText->clear();
            return true;
        }
        if (err != ERROR_INSUFFICIENT_BUFFER) return FailedOn(hRequest);
        text.resize(size + 1);
        size = static_cast<DWORD>(text.size());
    }
    text.resize(size);
    *pszText = std::move(text);
    return true;
}

bool HttpQueryHeader(HINTERNET hRequest, std::string_view szName, std::string* pszValue) {
    // HTTP_QUERY_CUSTOM takes the name in the buffer and returns the value in its place.
    std::string buffer(std::max<size_t>(szName.size() + 1, 256), '\0');
    for (;;) {
        std::copy(szName.begin(), szName.end(), buffer.begin());
        buffer[szName.size()] = '\0';
        DWORD size = static_cast<DWORD>(buffer.size());
        if (::HttpQueryInfoA(Native(hRequest), HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
            buffer.resize(size);
            if (pszValue != nullptr) *pszValue = std::move(buffer);
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Failed();
        buffer.resize(std::max<size_t>(size + 1, szName.size() + 1));
    }
}

bool HttpQueryProxy(HINTERNET, std::string* pszProxy) {
    // WinINet does not say which proxy (if any) carried a request.
    if (pszProxy != nullptr) pszProxy->clear();
    return true;
}

bool InternetCloseHandle(HINTERNET hAny) {
    if (hAny == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    bool bClosedByCancel = false;
    if (hAny->bRequest) {
        std::lock_guard lock(g_requestsLock);
        g_requests.erase(hAny);
        bClosedByCancel = hAny->bCancelled.load();
    }
    const bool ok = bClosedByCancel || ::InternetCloseHandle(hAny->native) != FALSE || Failed();
    if (hAny->redirectConnection != nullptr) ::InternetCloseHandle(hAny->redirectConnection);
    delete hAny;
    return ok;
}

void InterruptOpenRequests() {
    // Closing a request handle is how WinINet interrupts a call blocked on it in another thread.
    std::lock_guard lock(g_requestsLock);
    for (InternetObject* r : g_requests) {
        if (r->bCancelled.exchange(true)) continue;
        ::InternetCloseHandle(r->native);
    }
}

}  // namespace platform::inet
