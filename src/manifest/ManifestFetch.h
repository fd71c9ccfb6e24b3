// Fetching the manifest without transferring it again when it has not changed: the last copy
// downloaded is kept with the validator the server gave it, the next fetch asks the server
// whether it changed, and an answer of "not modified" puts the kept copy's bytes in place.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

// Fetches szUrl into szTempPath (the result codes of GetFileFromURL: 1 is success). szKeptPath
// holds the kept copy and "<szKeptPath>.meta" its validator. A body longer than nMaxBytes fails.
// *pbFromKept (when given) says whether the kept copy's bytes were used.
int FetchManifest(const std::wstring& szUrl, const std::wstring& szTempPath, const std::wstring& szKeptPath, uint64_t nMaxBytes,
                  bool* pbFromKept = nullptr);

// Drops the kept copy and its validator, so that the next fetch transfers the manifest whole: a
// copy that was refused must never stand in for what the server holds.
void ForgetKeptManifest(const std::wstring& szKeptPath);

}  // namespace UpDater
