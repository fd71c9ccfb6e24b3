#include "platform/debug.h"

#include <windows.h>

namespace platform::backend {

void WriteDebugLine(const std::wstring& szLine) { ::OutputDebugStringW(szLine.c_str()); }

}  // namespace platform::backend
