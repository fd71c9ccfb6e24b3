#include "http/HttpTool.h"

#include <cstdio>

#include "http/MimeSniffer.h"
#include "platform/codepage.h"

namespace Kaver {

namespace inet = platform::inet;

std::optional<std::string> WideToAnsi(unsigned nCodePage, std::wstring_view szText) {
    if (auto whole = platform::WideToMultiByte(nCodePage, szText)) return whole;
    if (!platform::WideToMultiByte(nCodePage, L"a")) return std::nullopt;
    std::string out;
    for (wchar_t c : szText) {
        if (auto one = platform::WideToMultiByte(nCodePage, std::wstring_view(&c, 1)))
            out += *one;
        else
            out += '?';
    }
    return out;
}

HINTERNET CHttpToolA::OpenRequest(HINTERNET hConnection, const char* szVerb, const char* szObjectName,
                                  uint32_t nFlags) {
    if (hConnection == nullptr) ThrowArgumentErrorA("CHttpToolA::OpenRequest: hConnection can not be NULL.");
    if (szObjectName == nullptr) ThrowArgumentErrorA("CHttpToolA::OpenRequest: szObjectName can not be NULL.");
    if (*szObjectName == '\0')
        ThrowArgumentErrorA("CHttpToolA::OpenRequest: szObjectName can not be an empty string.");
    HINTERNET h = inet::HttpOpenRequest(hConnection, szVerb != nullptr ? szVerb : "GET", szObjectName, nFlags);
    if (h == nullptr) ThrowHttpErrorA(HTTPCLIENT_ERR_HTTPOPENREQUEST_FAILED, inet::LastError());
    return h;
}

void CHttpToolA::AddHeader(HINTERNET hRequest, const char* szName, const char* szValue) {
    if (hRequest == nullptr) ThrowArgumentErrorA("CHttpToolA::AddHeader: hRequest can not be NULL.");
    if (szName == nullptr) ThrowArgumentErrorA("CHttpToolA::AddHeader: szName can not be NULL.");
    std::string line = szName;
    line += ": ";
    if (szValue != nullptr) line += szValue;
    line += "\r\n";
    if (!inet::HttpAddRequestHeaders(hRequest, line))
        ThrowHttpErrorA(HTTPCLIENT_ERR_HTTPADDREQUESTHEADERS_FAILED, inet::LastError());
}

namespace {

// The narrow error again as a wide one, with the same code and system error.
[[noreturn]] void Rethrow(const httpclientexceptionA& e) {
    auto msg = platform::MultiByteToWide(platform::CP_ACP, e.GetErrorMsg());
    throw httpclientexceptionW(msg ? msg->c_str() : nullptr, e.GetErrorCode(), e.GetSystemError());
}

std::string ToAnsiOrThrow(unsigned nCodePage, const wchar_t* szText) {
    auto s = CHttpToolW::Unicode2Ansi(nCodePage, szText);
    return s ? *s : std::string();
}

}  // namespace

HINTERNET CHttpToolW::OpenConnection(const wchar_t* szServerAddr, HINTERNET hInternet, uint16_t nPort) {
    if (hInternet == nullptr) ThrowArgumentErrorW(L"CHttpToolW::OpenConnection: hInternet can not be NULL.");
    if (szServerAddr == nullptr) ThrowArgumentErrorW(L"CHttpToolW::OpenConnection: szServerAddr can not be NULL.");
    if (*szServerAddr == L'\0')
        ThrowArgumentErrorW(L"CHttpToolW::OpenConnection: szServerAddr can not be an empty string.");
    HINTERNET h = inet::InternetConnect(hInternet, szServerAddr, nPort);
    if (h == nullptr) ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETCONNECT_FAILED, inet::LastError());
    return h;
}

HINTERNET CHttpToolW::OpenRequest(const wchar_t* szObjectName, unsigned nCodePage, HINTERNET hConnection,
                                  const wchar_t* szVerb, uint32_t nFlags) {
    if (hConnection == nullptr) ThrowArgumentErrorW(L"CHttpToolW::OpenRequest: hConnection can not be NULL.");
    if (szObjectName == nullptr) ThrowArgumentErrorW(L"CHttpToolW::OpenRequest: szObjectName can not be NULL.");
    if (*szObjectName == L'\0')
        ThrowArgumentErrorW(L"CHttpToolW::OpenRequest: szObjectName can not be an empty string.");
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(L"CHttpToolW::OpenRequest: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    const auto verb = Unicode2Ansi(nCodePage, szVerb);
    const std::string object = ToAnsiOrThrow(nCodePage, szObjectName);
    try {
        return CHttpToolA::OpenRequest(hConnection, verb ? verb->c_str() : nullptr, object.c_str(), nFlags);
    } catch (const httpclientexceptionA& e) {
        Rethrow(e);
    }
}

void CHttpToolW::AddHeader(HINTERNET hRequest, unsigned nCodePage, const wchar_t* szName, const wchar_t* szValue) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpToolW::AddHeader: hRequest can not be NULL.");
    if (szName == nullptr) ThrowArgumentErrorW(L"CHttpToolW::AddHeader: szName can not be NULL.");
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(L"CHttpToolW::AddHeader: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    const std::string name = ToAnsiOrThrow(nCodePage, szName);
    const auto value = Unicode2Ansi(nCodePage, szValue);
    try {
        CHttpToolA::AddHeader(hRequest, name.c_str(), value ? value->c_str() : nullptr);
    } catch (const httpclientexceptionA& e) {
        Rethrow(e);
    }
}

void CHttpToolW::SendRequest(unsigned nCodePage, HINTERNET hRequest) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpToolW::SendRequest: hRequest can not be NULL.");
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(L"CHttpToolW::SendRequest: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    if (!inet::HttpSendRequest(hRequest)) ThrowHttpErrorW(HTTPCLIENT_ERR_HTTPSENDREQUEST_FAILED, inet::LastError());
}

void CHttpToolW::SendRequestEx(HINTERNET hRequest, uint32_t nTotalBytes) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpToolW::SendRequestEx: hRequest can not be NULL.");
    if (!inet::HttpSendRequestEx(hRequest, nTotalBytes))
        ThrowHttpErrorW(HTTPCLIENT_ERR_HTTPSENDREQUESTEX_FAILED, inet::LastError());
}

void CHttpToolW::InternetWriteFile(HINTERNET hRequest, const uint8_t* pbyBuff, uint32_t cbyBuff) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpToolW::InternetWriteFile: hRequest can not be NULL.");
    if (pbyBuff == nullptr) ThrowArgumentErrorW(L"CHttpToolW::InternetWriteFile: pbyBuff can not be NULL.");
    if (cbyBuff == 0) ThrowArgumentErrorW(L"CHttpToolW::InternetWriteFile: cbyBuff can not be zero.");
    while (cbyBuff > 0) {
        uint32_t written = 0;
        if (!inet::InternetWriteFile(hRequest, pbyBuff, cbyBuff, &written))
            ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETWRITEFILE_FAILED, inet::LastError());
        if (written == 0) ThrowHttpErrorW(HTTPCLIENT_ERR_INTERNETWRITEFILE_FAILED, inet::LastError());
        pbyBuff += written;
        cbyBuff -= written;
    }
}

void CHttpToolW::EndRequest(HINTERNET hRequest) {
    if (hRequest == nullptr) ThrowArgumentErrorW(L"CHttpToolW::EndRequest: hRequest can not be NULL.");
    if (!inet::HttpEndRequest(hRequest)) ThrowHttpErrorW(HTTPCLIENT_ERR_HTTPENDREQUEST_FAILED, inet::LastError());
}

void CHttpToolW::CloseRequest(HINTERNET hRequest) noexcept {
    if (hRequest != nullptr) inet::InternetCloseHandle(hRequest);
}

std::optional<std::string> CHttpToolW::Unicode2Ansi(unsigned nCodePage, const wchar_t* szText) {
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(L"CHttpToolW::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    if (szText == nullptr) return std::nullopt;
    auto s = WideToAnsi(nCodePage, szText);
    if (!s) ThrowHttpErrorW(HTTPCLIENT_ERR_WIDECHARTOMULTIBYTE_FAILED, platform::inet::ERROR_INVALID_PARAMETER_);
    return s;
}

std::optional<std::wstring> CHttpToolW::Ansi2Unicode(const char* szText) {
    if (szText == nullptr) return std::nullopt;
    auto s = platform::MultiByteToWide(platform::CP_ACP, szText);
    if (!s) ThrowHttpErrorW(HTTPCLIENT_ERR_MULTIBYTETOWIDECHAR_FAILED, 1113 /* no mapping for the character */);
    return s;
}

platform::File CHttpToolW::OpenFile(const wchar_t* szFilePath, bool bStrict) {
    if (szFilePath == nullptr) ThrowArgumentErrorW(L"CHttpToolW::OpenFile: szFilePath can not be NULL.");
    platform::File f;
    const uint32_t err = f.Open(szFilePath, platform::File::Mode::Read);
    if (err != 0 && bStrict) ThrowHttpErrorW(HTTPCLIENT_ERR_OPENFILE_FAILED, err, szFilePath);
    return f;
}

uint32_t CHttpToolW::GetFileSize(platform::File* hFile, const wchar_t* szFilePath) {
    if (hFile == nullptr) ThrowArgumentErrorW(L"CHttpToolW::GetFileSize: hFile can not be NULL.");
    if (szFilePath == nullptr) ThrowArgumentErrorW(L"CHttpToolW::GetFileSize: szFilePath can not be NULL.");
    const auto size = hFile->Size();
    // A file of 4 GiB or more cannot be announced in a 32-bit length.
    if (!size || *size > 0xFFFFFFFFull)
        ThrowHttpErrorW(HTTPCLIENT_ERR_GETFILESIZE_FAILED, size ? 223 /* ERROR_FILE_TOO_LARGE */ : hFile->LastError(),
                        szFilePath);
    return static_cast<uint32_t>(*size);
}

std::string CHttpToolW::GetMimeType(unsigned nCodePage, platform::File* hFile) {
    if (hFile == nullptr) ThrowArgumentErrorW(L"CHttpToolW::GetMimeType: hFile can not be NULL.");
    if (IsUtfCodePage(nCodePage))
        ThrowArgumentErrorW(L"CHttpToolW::GetMimeType: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    if (!hFile->IsOpen()) return kFallbackMimeType;
    uint8_t head[256];
    const int64_t n = hFile->Read(head, sizeof head);
    if (n < 0) ThrowHttpErrorW(HTTPCLIENT_ERR_READFILE_FAILED, hFile->LastError());
    if (!hFile->Seek(0, SEEK_SET)) ThrowHttpErrorW(HTTPCLIENT_ERR_SETFILEPOINTER_FAILED, hFile->LastError());
    return SniffMimeType(head, static_cast<size_t>(n));
}

}  // namespace Kaver
