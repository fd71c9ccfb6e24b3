// The single-instance guard: a named mutex owned for the process's whole life.
#pragma once

#include <cstdint>
#include <string>

namespace OrvoApp {

class CMutexHandler {
public:
    static constexpr intptr_t INVALID_HANDLE_VALUE_ = -1;

    enum Result {
        Created = 1,         // created with initial ownership; name stored
        AlreadyCalled = 2,   // Create ran on this object before; nothing done
        CreateFailed = 3,    // no mutex could be made
        AlreadyExists = 4,   // another process holds it
        AccessDenied = 5,
    };

    CMutexHandler() = default;
    virtual ~CMutexHandler();
    CMutexHandler(const CMutexHandler&) = delete;
    CMutexHandler& operator=(const CMutexHandler&) = delete;

    int Create(const std::wstring& szName);
    const std::wstring& Name() const { return m_strName; }

private:
    intptr_t m_hMutex = INVALID_HANDLE_VALUE_;
    std::wstring m_strName;
};

}  // namespace OrvoApp
