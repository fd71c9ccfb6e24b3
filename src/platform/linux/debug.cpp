#include "platform/debug.h"

#include <syslog.h>

#include "platform/strings.h"

namespace platform::backend {

void WriteDebugLine(const std::wstring& szLine) {
    std::string line = ToUtf8(szLine);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    syslog(LOG_USER | LOG_DEBUG, "%s", line.c_str());
}

}  // namespace platform::backend
