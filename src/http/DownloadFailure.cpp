#include "http/DownloadFailure.h"

#include "http/HttpException.h"
#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/strings.h"

namespace Kaver {

using platform::FormatW;
using platform::Translate;

std::wstring DescribeTransferFailure(const std::wstring& szUrl, uint32_t nErrorCode, uint32_t nSystemError) {
    const auto because = [&szUrl](uint32_t nCode) {
        return FormatW(Translate(L"%s: %s.").c_str(), szUrl, platform::ErrorSentence(nCode));
    };
    if (nSystemError != 0 && platform::FindError(nSystemError) != nullptr) return because(nSystemError);
    if (nErrorCode == HTTPCLIENT_ERR_INVALID_URL || nErrorCode == HTTPCLIENT_ERR_INVALID_PORT ||
        nErrorCode == HTTPCLIENT_ERR_ENCODED_URL_NOT_VALID)
        return because(platform::ERROR_INTERNET_INVALID_URL);
    if (nErrorCode == HTTPCLIENT_ERR_READ_UNEXPECTED_SIZE) return because(platform::ERROR_INTERNET_CONNECTION_ABORTED);
    if (nSystemError != 0) return because(nSystemError);
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

void RecordLocalFileFailure(const std::wstring& szUrl, const std::wstring& szPath, const platform::SystemError& error) {
    platform::SetFailureCause(FormatW(Translate(L"%s: the download could not be written to %s: %s.").c_str(), szUrl, szPath,
                                      platform::ErrorSentence(error.code)));
}

}  // namespace Kaver
