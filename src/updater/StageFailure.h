// Sentences for the person watching when a package cannot be installed; recorded as the
// failure cause (platform/failure_cause.h) beside the stages' debug lines.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

void RecordPackageUnreadable(const std::wstring& szPackage, const std::wstring& szWhat);
void RecordPackageFileMissing(const std::wstring& szPackage, const std::wstring& szFile);
void RecordPackageSizeMismatch(const std::wstring& szPackage, const std::wstring& szFile, int64_t nActual, int64_t nExpected);
void RecordPackageHashMismatch(const std::wstring& szPackage, const std::wstring& szFile);

}  // namespace UpDater
