// Win32 error numbers used at the seam on both platforms (Linux maps errno onto them).
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t ERROR_SUCCESS_ = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND_ = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND_ = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED_ = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE_ = 6;
inline constexpr uint32_t ERROR_SHARING_VIOLATION_ = 32;
inline constexpr uint32_t ERROR_FILE_EXISTS_ = 80;
inline constexpr uint32_t ERROR_DISK_FULL_ = 112;
inline constexpr uint32_t ERROR_BAD_PATHNAME_ = 161;
inline constexpr uint32_t ERROR_ALREADY_EXISTS_ = 183;
// A symbolic link (Windows: a reparse point) stood where a real folder or file was required.
inline constexpr uint32_t ERROR_STOPPED_ON_SYMLINK_ = 681;
inline constexpr uint32_t ERROR_REGISTRY_IO_FAILED_ = 1016;

}  // namespace platform
