// The one-shot manifest swap: the refreshed manifest copy an earlier run of an address left in
// its working folder replaces a local manifest file, held to the checks of a normal run.
#pragma once

#include <string>

namespace UpDater {

// Replaces szLocalPath with the working copy of szUrl's manifest. Nothing happens (false, with a
// debug line) when there is no copy, the working folder is not this user's alone, or, with a
// key trusted, the copy is not signed by a trusted key, is older than the release applied last
// or has expired. The copy is read once; those bytes are checked and written.
bool SwapInManifest(const std::wstring& szUrl, const std::wstring& szLocalPath);

}  // namespace UpDater
