// Whether two path texts name the same file, as far as the text alone can tell.
// Both: '\' and '/' are one separator, runs of separators count as one, "." components and
// trailing separators are dropped. Linux: letter case counts. Windows: letter case does not
// count (names compare as the file system's upper-case table does).
#pragma once

#include <string>

namespace platform {

// A key that is equal for two paths exactly when they name the same file by the rules above.
std::wstring PathIdentity(const std::wstring& szPath);
// The backend's case rule alone.
std::wstring FoldPathCase(std::wstring szPath);

}  // namespace platform
