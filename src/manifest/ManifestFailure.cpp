#include "manifest/ManifestFailure.h"

#include "platform/errors.h"
#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/strings.h"

namespace UpDater {

using platform::FormatW;
using platform::Translate;

void RecordManifestUnreadable(const std::wstring& szPath, uint32_t nError) {
    platform::SetFailureCause(
        FormatW(Translate(L"%s: the manifest could not be read: %s.").c_str(), szPath, platform::ErrorSentence(nError)));
}

void RecordManifestTooLarge(const std::wstring& szPath, uint64_t nLimit) {
    platform::SetFailureCause(FormatW(Translate(L"%s: the manifest is larger than %llu bytes.").c_str(), szPath,
                                      static_cast<unsigned long long>(nLimit)));
}

void RecordManifestNotUtf8(const std::wstring& szPath) {
    platform::SetFailureCause(FormatW(Translate(L"%s: the manifest is not UTF-8 text.").c_str(), szPath));
}

void RecordManifestMalformed(const std::wstring& szPath, uint64_t nLine, uint64_t nColumn, const std::wstring& szWhat) {
    platform::SetFailureCause(FormatW(Translate(L"%s line %llu column %llu: the manifest is not well-formed XML (%s).").c_str(),
                                      szPath, static_cast<unsigned long long>(nLine),
                                      static_cast<unsigned long long>(nColumn), szWhat));
}

void RecordNoInstallFolder(const std::wstring& szPath) {
    platform::SetFailureCause(FormatW(Translate(L"%s: the manifest names no install folder.").c_str(), szPath));
}

void RecordNoDataFolder() { platform::SetFailureCause(Translate(L"No per-user data folder could be found or made.")); }

}  // namespace UpDater
