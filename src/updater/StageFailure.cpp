#include "updater/StageFailure.h"

#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/strings.h"

namespace UpDater {

using platform::FormatW;
using platform::Translate;

void RecordPackageUnreadable(const std::wstring& szPackage, const std::wstring& szWhat) {
    platform::SetFailureCause(FormatW(Translate(L"Package %s could not be unpacked: %s").c_str(), szPackage, szWhat));
}

void RecordPackageFileMissing(const std::wstring& szPackage, const std::wstring& szFile) {
    platform::SetFailureCause(FormatW(Translate(L"Package %s does not hold the file %s.").c_str(), szPackage, szFile));
}

void RecordPackageSizeMismatch(const std::wstring& szPackage, const std::wstring& szFile, int64_t nActual, int64_t nExpected) {
    platform::SetFailureCause(FormatW(Translate(L"Package %s failed its size check: %s has %lld bytes, the manifest says %lld.").c_str(),
                                      szPackage, szFile, static_cast<long long>(nActual), static_cast<long long>(nExpected)));
}

void RecordPackageHashMismatch(const std::wstring& szPackage, const std::wstring& szFile) {
    platform::SetFailureCause(FormatW(Translate(L"Package %s failed its hash check: %s is not the file that was published.").c_str(),
                                      szPackage, szFile));
}

}  // namespace UpDater
