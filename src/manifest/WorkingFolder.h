// The updater's working folders below the per-user data folder, made safe to work in.
#pragma once

#include <string>

namespace UpDater {

// Creates szRelative (e.g. "TALVEN\Update\Temp") below szDataFolder without following links,
// and checks that the data folder and every folder below it may hold the updater's files
// (owned by this user, writable by no one else unless sticky and this user's, no link below
// the data folder). False with a line naming the refused folder.
bool PrepareWorkingFolder(const std::wstring& szDataFolder, const std::wstring& szRelative);

// The working folder of one manifest address below the per-user data folder:
// "TALVEN\Update\<16 hex digits>", the digits a hash of the address as the single-instance
// lock takes it, so that suites whose manifests share a file name never share a working copy.
std::wstring AddressWorkingFolder(const std::wstring& szUrl);

}  // namespace UpDater
