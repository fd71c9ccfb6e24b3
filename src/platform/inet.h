// HTTP transport with the shape of the Windows Internet API: an internet handle carries the
// session options, a connection names a server and port, a request is opened on it, sent
// (with or without a streamed body), read in pieces and closed. Failures return false/null and
// leave a Win32/WinINet error number in LastError() (12002 time-out, 12007 name not resolved,
// 12029 cannot connect, 12030 connection aborted, 12031 reset, 12150 header not found, ...).
// Linux: libcurl's multi interface, so bodies stream in both directions through small buffers;
// redirects are followed (at most 10, http/https only, never from https down to http), TLS is
// verified (CA bundle from CURL_CA_BUNDLE/SSL_CERT_FILE when set), proxies come from the
// environment (http_proxy, https_proxy, all_proxy, no_proxy; a loopback host is never sent to
// a proxy from the environment), and connections are kept for later requests of the process to
// the same scheme, host, port and proxy. Windows: WinINet itself (which keeps its own
// connections and reads the system's proxy settings); redirects of a request without a
// body are followed by this backend itself with the same limits (WinINet's own following is
// switched off: under Wine it follows a loop without end); a request with a body gets the
// redirect response as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace platform::inet {

struct InternetObject;
using HINTERNET = InternetObject*;

// Access types of InternetOpen.
inline constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;

// Request flags the transport acts on (others are accepted and ignored).
inline constexpr uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;  // sends "Pragma: no-cache"
inline constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000;          // https
inline constexpr uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;

// Options of InternetSetOption.
inline constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;  // milliseconds
inline constexpr uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr uint32_t INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr uint32_t INTERNET_OPTION_PROXY_PASSWORD = 44;

inline constexpr uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

// Error numbers reported by LastError(), as errors.h defines them.
using platform::ERROR_INVALID_HANDLE_;
using platform::ERROR_NOT_ENOUGH_MEMORY_;
using platform::ERROR_INVALID_PARAMETER_;
using platform::ERROR_INTERNET_TIMEOUT;
using platform::ERROR_INTERNET_INTERNAL_ERROR;
using platform::ERROR_INTERNET_INVALID_URL;
using platform::ERROR_INTERNET_UNRECOGNIZED_SCHEME;
using platform::ERROR_INTERNET_NAME_NOT_RESOLVED;
using platform::ERROR_INTERNET_OPERATION_CANCELLED;
using platform::ERROR_INTERNET_INCORRECT_HANDLE_STATE;
using platform::ERROR_INTERNET_CANNOT_CONNECT;
using platform::ERROR_INTERNET_CONNECTION_ABORTED;
using platform::ERROR_INTERNET_CONNECTION_RESET;
using platform::ERROR_INTERNET_SEC_CERT_CN_INVALID;
using platform::ERROR_INTERNET_INVALID_CA;
using platform::ERROR_HTTP_HEADER_NOT_FOUND;
using platform::ERROR_HTTP_INVALID_SERVER_RESPONSE;
using platform::ERROR_HTTP_REDIRECT_FAILED;
using platform::ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
using platform::ERROR_INTERNET_SECURE_FAILURE;

// The error number of the last failed call on this thread.
uint32_t LastError();

// Time-outs (milliseconds) given to internet handles opened from now on; a handle's own
// InternetSetOption overrides the first three. The defaults are 60 s to connect and 30 s
// without progress while sending or receiving. A transfer also fails (12002) when it moves fewer
// than lowSpeedBytes per second over any lowSpeedMs, so a trickle cannot hold it, and when it
// outlives its overall bound: deadlineBaseMs plus the announced body size at
// deadlineBytesPerSec, or unknownSizeMs when no size is known. The environment variables
// ORVO_NET_<FIELD> (e.g. ORVO_NET_LOWSPEEDMS) override the built-in defaults, so that tests of
// the real executable can lower them.
struct Timeouts {
    uint32_t connectMs = 60000;
    uint32_t sendMs = 30000;
    uint32_t receiveMs = 30000;
    uint32_t lowSpeedBytes = 1024;
    uint32_t lowSpeedMs = 30000;
    uint32_t deadlineBaseMs = 120000;
    uint32_t deadlineBytesPerSec = 1024;
    uint32_t unknownSizeMs = 3600000;
};
void SetDefaultTimeouts(const Timeouts& timeouts);
Timeouts DefaultTimeouts();
// The overall bound of a transfer announcing nBytes (none known: nBytes < 0), in milliseconds.
uint64_t TransferDeadlineMs(const Timeouts& timeouts, int64_t nBytes);

// Cancels every transfer of the process: running calls fail with 12017 within a fraction of a
// second and every later request fails the same way until ResetCancel. Safe from any thread.
// Linux: the transfer loop polls the flag between waits of at most 100 ms. Windows: the open
// request handles are closed from the calling thread; a transfer that is moving stops at its
// next read, and a call blocked on a silent server returns at once on Windows but, under Wine
// (which keeps the socket while a call is inside it), only at the receive time-out.
void CancelTransfers();
void ResetCancel();
bool TransfersCancelled();
// The backend's part of CancelTransfers: wakes calls blocked on open requests (Windows closes
// their handles; Linux has nothing to do, its transfer loop polls the flag).
void InterruptOpenRequests();

// Null texts are given as nullptr.
HINTERNET InternetOpen(const wchar_t* szAgent, uint32_t nAccessType, const wchar_t* szProxy,
                       const wchar_t* szProxyBypass, uint32_t nFlags);
HINTERNET InternetConnect(HINTERNET hInternet, const wchar_t* szServerName, uint16_t nPort);
bool InternetSetOption(HINTERNET hAny, uint32_t nOption, uint32_t nValue);
bool InternetSetOption(HINTERNET hAny, uint32_t nOption, const std::wstring& szValue);
// Verb and object name are bytes in the request's code page; bytes outside printable ASCII
// are percent-escaped on the wire. Accept types are "*/*"; the version is HTTP/1.1.
HINTERNET HttpOpenRequest(HINTERNET hConnection, std::string_view szVerb, std::string_view szObjectName,
                          uint32_t nFlags);
// One or more "Name: value\r\n" lines.
bool HttpAddRequestHeaders(HINTERNET hRequest, std::string_view szHeaders);
// Sends the request without a body and waits for the response headers.
bool HttpSendRequest(HINTERNET hRequest);
// Sends the request headers announcing a body of nTotalBytes, written with InternetWriteFile.
bool HttpSendRequestEx(HINTERNET hRequest, uint64_t nTotalBytes);
bool InternetWriteFile(HINTERNET hRequest, const void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyWritten);
// Ends the body and waits for the response headers.
bool HttpEndRequest(HINTERNET hRequest);
// Reads body bytes; *pcbyRead == 0 with true means the body ended completely. A body cut short
// (connection closed before Content-Length, broken chunking) or stalled fails.
bool InternetReadFile(HINTERNET hRequest, void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyRead);
// Fails with 12150 when the response has no Content-Length.
bool HttpQueryContentLength(HINTERNET hRequest, uint64_t* pnLength);
bool HttpQueryStatusCode(HINTERNET hRequest, uint32_t* pnStatus);
// The status text of the response (e.g. "Not Found"); empty when none was sent.
bool HttpQueryStatusText(HINTERNET hRequest, std::string* pszText);
// The value of a header of the final response (first one of that name, case-insensitive);
// fails with 12150 when there is none.
bool HttpQueryHeader(HINTERNET hRequest, std::string_view szName, std::string* pszValue);
// The proxy the request went through ("http://host:port"), empty when it went direct (Windows:
// always empty, WinINet does not tell). A proxy that refuses the request for want of
// credentials is reported as a response of status 407 on both backends.
bool HttpQueryProxy(HINTERNET hRequest, std::string* pszProxy);
bool InternetCloseHandle(HINTERNET hAny);


// The object name as sent: bytes outside printable ASCII (and spaces) percent-escaped.
std::string EscapeObjectName(std::string_view szObjectName);

}  // namespace platform::inet
