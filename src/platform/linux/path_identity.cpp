#include <string>

namespace platform {

// Linux file names are case-sensitive.
std::wstring FoldPathCase(std::wstring szPath) { return szPath; }

}  // namespace platform
