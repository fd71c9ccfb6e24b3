// One sentence for the person watching, naming the address and what went wrong with its
// download; recorded as the failure cause (platform/failure_cause.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace Kaver {

class httpclientexceptionW;

// The transfer failed with the client's exception.
void RecordTransferFailure(const std::wstring& szUrl, const httpclientexceptionW& e);
// The server answered with a status other than 2xx.
void RecordStatusFailure(const std::wstring& szUrl, uint32_t nStatus, const std::wstring& szStatusText);
// The body ended before the announced length.
void RecordShortBody(const std::wstring& szUrl, uint64_t nReceived, uint64_t nAnnounced);
// The local file could not be created or written.
void RecordLocalFileFailure(const std::wstring& szUrl, const std::wstring& szPath, const platform::SystemError& error);

// The sentence for a transfer failure; exposed for tests.
std::wstring DescribeTransferFailure(const std::wstring& szUrl, uint32_t nErrorCode, uint32_t nSystemError);

}  // namespace Kaver
