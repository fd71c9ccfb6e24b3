#include "platform/thread.h"

#include <windows.h>

#include <atomic>

#include "platform/windows/sync_state.h"

namespace platform {

// Shared by the Thread object and the running thread, so either may go first. The waitable
// handle is the thread's own.
struct Thread::State : Waitable {
    State() : Waitable(false) {}
    std::function<uint32_t()> fn;
    std::atomic<bool> bResumed{false};
    std::atomic<bool> bCancelled{false};  // the object went away before Resume
};

namespace {

struct Start {
    std::shared_ptr<Thread::State> state;
};

DWORD WINAPI ThreadMain(void* param) {
    std::unique_ptr<Start> start(static_cast<Start*>(param));
    if (start->state->bCancelled) return 0;
    return start->state->fn();
}

}  // namespace

// Windows ends a terminated thread where it stands: nothing of it runs afterwards.
bool ThisThreadAbandoned() { return false; }

std::unique_ptr<Thread> Thread::Create(std::function<uint32_t()> fn, int nPriority, bool bSuspended) {
    auto state = std::make_shared<State>();
    state->fn = std::move(fn);
    state->bResumed = !bSuspended;
    auto start = std::make_unique<Start>(Start{state});
    HANDLE h = ::CreateThread(nullptr, 0, ThreadMain, start.get(), CREATE_SUSPENDED, nullptr);
    if (h == nullptr) return nullptr;
    start.release();  // the thread owns it now
    ::CloseHandle(state->state().handle);  // the event made by Waitable; the thread is waited on instead
    state->state().handle = h;
    if (nPriority != 0) ::SetThreadPriority(h, nPriority);
    if (!bSuspended) ::ResumeThread(h);
    return std::unique_ptr<Thread>(new Thread(std::move(state)));
}

Thread::Thread(std::shared_ptr<State> state) : m_state(std::move(state)) {}

Thread::~Thread() {
    // A thread never resumed is let go without running its function; a running one goes on.
    if (!m_state->bResumed.exchange(true)) {
        m_state->bCancelled = true;
        ::ResumeThread(m_state->state().handle);
        ::WaitForSingleObject(m_state->state().handle, INFINITE);
    }
}

bool Thread::Resume() {
    if (!m_state->bResumed.exchange(true)) return ::ResumeThread(m_state->state().handle) != static_cast<DWORD>(-1);
    return true;
}

Waitable* Thread::Handle() { return m_state.get(); }

bool Thread::GetExitCode(uint32_t& nExitCode) {
    DWORD code = 0;
    if (!::GetExitCodeThread(m_state->state().handle, &code)) return false;
    nExitCode = code;
    return true;
}

bool Thread::Terminate(uint32_t nExitCode) {
    if (::WaitForSingleObject(m_state->state().handle, 0) == WAIT_OBJECT_0) return false;  // already ended
    return ::TerminateThread(m_state->state().handle, nExitCode) != FALSE;
}

}  // namespace platform
