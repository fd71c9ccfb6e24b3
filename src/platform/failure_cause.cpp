#include "platform/failure_cause.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex& CauseLock() {
    static std::mutex lock;
    return lock;
}

std::wstring& Cause() {
    static std::wstring cause;
    return cause;
}

}  // namespace

void SetFailureCause(std::wstring szSentence) {
    std::lock_guard<std::mutex> guard(CauseLock());
    Cause() = std::move(szSentence);
}

std::wstring TakeFailureCause() {
    std::lock_guard<std::mutex> guard(CauseLock());
    return std::exchange(Cause(), std::wstring());
}

void ClearFailureCause() { TakeFailureCause(); }

std::wstring WithFailureCause(const std::wstring& szMessage) {
    const std::wstring cause = TakeFailureCause();
    if (cause.empty()) return szMessage;
    std::wstring text = szMessage;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text + L"\n" + cause;
}

}  // namespace platform
