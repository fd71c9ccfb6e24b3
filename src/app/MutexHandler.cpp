#include "app/MutexHandler.h"

#include "platform/fs.h"
#include "platform/process.h"

namespace OrvoApp {

CMutexHandler::~CMutexHandler() {
    if (m_hMutex != INVALID_HANDLE_VALUE_) platform::CloseMutexHandle(m_hMutex);
    m_hMutex = INVALID_HANDLE_VALUE_;
}

int CMutexHandler::Create(const std::wstring& szName) {
    if (m_hMutex != INVALID_HANDLE_VALUE_) return AlreadyCalled;
    const auto result = platform::CreateNamedMutex(szName);
    m_hMutex = result.hMutex;
    if (m_hMutex == 0) return CreateFailed;
    if (result.nLastError == platform::ERROR_ALREADY_EXISTS_) return AlreadyExists;
    if (result.nLastError == platform::ERROR_ACCESS_DENIED_) return AccessDenied;
    m_strName = szName;
    return Created;
}

}  // namespace OrvoApp
