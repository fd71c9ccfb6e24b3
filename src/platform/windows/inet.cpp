#include "platform/inet.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <charconv>

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

namespace {

thread_local uint32_t t_lastError = 0;

// Records the error of the WinINet call that just failed.
bool Failed() {
    t_lastError = static_cast<uint32_t>(::GetLastError());
    return false;
}

::HINTERNET Native(HINTERNET h) { return reinterpret_cast<::HINTERNET>(h); }
HINTERNET Ours(::HINTERNET h) { return reinterpret_cast<HINTERNET>(h); }

bool SetDword(::HINTERNET h, DWORD nOption, DWORD nValue) {
    return ::InternetSetOptionW(h, nOption, &nValue, sizeof nValue) != FALSE || Failed();
}

}  // namespace

uint32_t LastError() { return t_lastError; }

HINTERNET InternetOpen(const wchar_t* szAgent, uint32_t nAccessType, const wchar_t* szProxy,
                       const wchar_t* szProxyBypass, uint32_t nFlags) {
    ::HINTERNET h = ::InternetOpenW(szAgent, nAccessType, szProxy, szProxyBypass, nFlags);
    if (h == nullptr) {
        Failed();
        return nullptr;
    }
    const Timeouts t = DefaultTimeouts();
    SetDword(h, INTERNET_OPTION_CONNECT_TIMEOUT, t.connectMs);
    SetDword(h, INTERNET_OPTION_SEND_TIMEOUT, t.sendMs);
    SetDword(h, INTERNET_OPTION_RECEIVE_TIMEOUT, t.receiveMs);
    return Ours(h);
}

HINTERNET InternetConnect(HINTERNET hInternet, const wchar_t* szServerName, uint16_t nPort) {
    ::HINTERNET h = ::InternetConnectW(Native(hInternet), szServerName, nPort, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0);
    if (h == nullptr) Failed();
    return Ours(h);
}

bool InternetSetOption(HINTERNET hAny, uint32_t nOption, uint32_t nValue) {
    return SetDword(Native(hAny), nOption, nValue);
}

bool InternetSetOption(HINTERNET hAny, uint32_t nOption, const std::wstring& szValue) {
    return ::InternetSetOptionW(Native(hAny), nOption, const_cast<wchar_t*>(szValue.c_str()),
                                static_cast<DWORD>(szValue.size())) != FALSE ||
           Failed();
}

HINTERNET HttpOpenRequest(HINTERNET hConnection, std::string_view szVerb, std::string_view szObjectName,
                          uint32_t nFlags) {
    // The object name goes out escaped, so that the A call passes its bytes through unchanged.
    const std::string verb(szVerb);
    const std::string object = EscapeObjectName(szObjectName);
    const char* accept[] = {"*/*", nullptr};
    ::HINTERNET h = ::HttpOpenRequestA(Native(hConnection), verb.c_str(), object.c_str(), "HTTP/1.1", nullptr,
                                       accept, nFlags, 0);
    if (h == nullptr) Failed();
    return Ours(h);
}

bool HttpAddRequestHeaders(HINTERNET hRequest, std::string_view szHeaders) {
    return ::HttpAddRequestHeadersA(Native(hRequest), szHeaders.data(), static_cast<DWORD>(szHeaders.size()),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) != FALSE ||
           Failed();
}

bool HttpSendRequest(HINTERNET hRequest) {
    return ::HttpSendRequestW(Native(hRequest), nullptr, 0, nullptr, 0) != FALSE || Failed();
}

bool HttpSendRequestEx(HINTERNET hRequest, uint64_t nTotalBytes) {
    if (nTotalBytes > 0xFFFFFFFFull) {  // the announced length is a DWORD here
        t_lastError = ERROR_INVALID_PARAMETER_;
        return false;
    }
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(nTotalBytes);
    return ::HttpSendRequestExW(Native(hRequest), &buffers, nullptr, 0, 0) != FALSE || Failed();
}

bool InternetWriteFile(HINTERNET hRequest, const void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyWritten) {
    DWORD written = 0;
    const bool ok = ::InternetWriteFile(Native(hRequest), pbyBuff, cbyBuff, &written) != FALSE || Failed();
    if (pcbyWritten != nullptr) *pcbyWritten = written;
    return ok;
}

bool HttpEndRequest(HINTERNET hRequest) {
    return ::HttpEndRequestW(Native(hRequest), nullptr, 0, 0) != FALSE || Failed();
}

bool InternetReadFile(HINTERNET hRequest, void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyRead) {
    DWORD read = 0;
    const bool ok = ::InternetReadFile(Native(hRequest), pbyBuff, cbyBuff, &read) != FALSE || Failed();
    if (pcbyRead != nullptr) *pcbyRead = read;
    return ok;
}

bool HttpQueryContentLength(HINTERNET hRequest, uint64_t* pnLength) {
    // As text: the numeric form is 32 bits.
    char text[32];
    DWORD size = sizeof text;
    if (!::HttpQueryInfoA(Native(hRequest), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return Failed();
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
    if (!::HttpQueryInfoW(Native(hRequest), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return Failed();
    *pnStatus = status;
    return true;
}

bool HttpQueryStatusText(HINTERNET hRequest, std::string* pszText) {
    std::string text(256, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    while (!::HttpQueryInfoA(Native(hRequest), HTTP_QUERY_STATUS_TEXT, text.data(), &size, nullptr)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HTTP_HEADER_NOT_FOUND) {
            pszText->clear();
            return true;
        }
        if (err != ERROR_INSUFFICIENT_BUFFER) return Failed();
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

bool InternetCloseHandle(HINTERNET hAny) { return ::InternetCloseHandle(Native(hAny)) != FALSE || Failed(); }

}  // namespace platform::inet
