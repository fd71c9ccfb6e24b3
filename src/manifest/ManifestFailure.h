// Sentences for the person watching when a manifest cannot be used; recorded as the failure
// cause (platform/failure_cause.h) beside the debug lines.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

void RecordManifestUnreadable(const std::wstring& szPath, uint32_t nError);
void RecordManifestTooLarge(const std::wstring& szPath, uint64_t nLimit);
void RecordManifestNotUtf8(const std::wstring& szPath);
void RecordManifestMalformed(const std::wstring& szPath, uint64_t nLine, uint64_t nColumn, const std::wstring& szWhat);
void RecordNoInstallFolder(const std::wstring& szPath);
void RecordNoDataFolder();

}  // namespace UpDater
