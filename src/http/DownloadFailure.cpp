#include "http/DownloadFailure.h"

#include "http/HttpException.h"
#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/inet.h"
#include "platform/strings.h"

namespace Kaver {

using platform::FormatW;
using platform::Translate;

std::wstring DescribeTransferFailure(const std::wstring& szUrl, uint32_t nErrorCode, uint32_t nSystemError) {
    switch (nSystemError) {
        case platform::inet::ERROR_INTERNET_TIMEOUT:
            return FormatW(Translate(L"%s: the server did not answer in time.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_NAME_NOT_RESOLVED:
            return FormatW(Translate(L"%s: the host name could not be resolved.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_CANNOT_CONNECT:
            return FormatW(Translate(L"%s: the connection was refused or the host cannot be reached.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_CONNECTION_ABORTED:
        case platform::inet::ERROR_INTERNET_CONNECTION_RESET:
            return FormatW(Translate(L"%s: the connection broke off before the transfer was complete.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_SEC_CERT_CN_INVALID:
            return FormatW(Translate(L"%s: the server's certificate is not issued for this host name.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_INVALID_CA:
        case platform::inet::ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        case platform::inet::ERROR_INTERNET_SECURE_FAILURE:
            return FormatW(Translate(L"%s: the server's certificate is not trusted.").c_str(), szUrl);
        case platform::inet::ERROR_HTTP_REDIRECT_FAILED:
            return FormatW(Translate(L"%s: the server redirected to an address that is not allowed.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_OPERATION_CANCELLED:
            return FormatW(Translate(L"%s: the transfer was cancelled.").c_str(), szUrl);
        case platform::inet::ERROR_INTERNET_INVALID_URL:
        case platform::inet::ERROR_INTERNET_UNRECOGNIZED_SCHEME:
            return FormatW(Translate(L"%s: the address is not a valid http or https address.").c_str(), szUrl);
        case platform::inet::ERROR_HTTP_INVALID_SERVER_RESPONSE:
            return FormatW(Translate(L"%s: the server's answer is not valid HTTP.").c_str(), szUrl);
        default:
            break;
    }
    if (nErrorCode == HTTPCLIENT_ERR_INVALID_URL || nErrorCode == HTTPCLIENT_ERR_INVALID_PORT ||
        nErrorCode == HTTPCLIENT_ERR_ENCODED_URL_NOT_VALID)
        return FormatW(Translate(L"%s: the address is not a valid http or https address.").c_str(), szUrl);
    if (nErrorCode == HTTPCLIENT_ERR_READ_UNEXPECTED_SIZE)
        return FormatW(Translate(L"%s: the connection broke off before the transfer was complete.").c_str(), szUrl);
    return FormatW(Translate(L"%s: the download failed (error %u, system error %u).").c_str(), szUrl, nErrorCode, nSystemError);
}

void RecordTransferFailure(const std::wstring& szUrl, const httpclientexceptionW& e) {
    platform::SetFailureCause(DescribeTransferFailure(szUrl, e.GetErrorCode(), e.GetSystemError()));
}

void RecordStatusFailure(const std::wstring& szUrl, uint32_t nStatus, const std::wstring& szStatusText) {
    platform::SetFailureCause(
        FormatW(Translate(L"%s: the server answered with HTTP status %u %s.").c_str(), szUrl, nStatus, szStatusText));
}

void RecordShortBody(const std::wstring& szUrl, uint64_t nReceived, uint64_t nAnnounced) {
    platform::SetFailureCause(FormatW(Translate(L"%s: the transfer ended after %llu of %llu bytes.").c_str(), szUrl,
                                      static_cast<unsigned long long>(nReceived), static_cast<unsigned long long>(nAnnounced)));
}

void RecordLocalFileFailure(const std::wstring& szUrl, const std::wstring& szPath, uint32_t nError) {
    platform::SetFailureCause(
        FormatW(Translate(L"%s: the download could not be written to %s (error %u).").c_str(), szUrl, szPath, nError));
}

}  // namespace Kaver
