// Helpers shared by the Windows backends only.
#pragma once

#include <string>

namespace platform::win {

// The path as the W functions take it: '/' turned into '\'.
std::wstring NativePath(const std::wstring& szPath);

}  // namespace platform::win
