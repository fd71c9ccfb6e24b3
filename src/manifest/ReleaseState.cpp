#include "manifest/ReleaseState.h"

#include <algorithm>

#include "manifest/FolderPaths.h"
#include "manifest/ReleaseCheck.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace UpDater {

namespace {

std::wstring ReadText(const platform::RegKey& key, const wchar_t* szName) {
    platform::RegValue value;
    if (key.QueryValue(szName, value) != 0 || value.type != platform::REG_SZ_) return {};
    return platform::DecodeRegString(value.data);
}

}  // namespace

std::wstring ReleaseStateKey(const std::wstring& szUrl) {
    return L"Software\\TALVEN\\OrvoUpdaterService\\Releases\\" + ManifestAddressHash(szUrl);
}

AppliedRelease LoadAppliedRelease(const std::wstring& szUrl) {
    AppliedRelease release;
    platform::RegKey key;
    if (platform::RegKey::Open(platform::RootCurrentUser, ReleaseStateKey(szUrl), platform::RegAccess::Read, key) != 0) return release;
    // A value that is not a release number cannot lower the floor: it is read as the highest.
    const std::wstring sequence = ReadText(key, L"Sequence");
    if (!sequence.empty()) {
        release.nSequence = ParseSequence(sequence).value_or(UINT64_MAX);
        if (release.nSequence == UINT64_MAX)
            platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error] release state [%s\\Sequence] = [%s] is no release number: every release of this address is refused \n",
                                                    ReleaseStateKey(szUrl), sequence));
    }
    release.szKeyId = ReadText(key, L"Key");
    release.szManifestSha256 = ReadText(key, L"Manifest");
    return release;
}

bool StoreAppliedRelease(const std::wstring& szUrl, const AppliedRelease& release) {
    const AppliedRelease stored = LoadAppliedRelease(szUrl);
    platform::RegKey key;
    uint32_t err = platform::RegKey::Create(platform::RootCurrentUser, ReleaseStateKey(szUrl), key);
    auto set = [&key, &err](const wchar_t* szName, const std::wstring& szValue) {
        if (err == 0) err = key.SetValue(szName, platform::REG_SZ_, platform::EncodeRegString(szValue));
    };
    set(L"Address", szUrl);
    if (release.nSequence >= stored.nSequence) {
        set(L"Sequence", std::to_wstring(release.nSequence));
        set(L"Key", release.szKeyId);
    }
    set(L"Manifest", release.szManifestSha256);
    if (err == 0) return true;
    platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::StoreAppliedRelease() [%s] not recorded (%u)\n",
                                            215, ReleaseStateKey(szUrl), err));
    return false;
}

}  // namespace UpDater
