#include "platform/thread.h"

#include "platform/dump.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

// Shared by the Thread object and the running thread, so either may go first.
struct Thread::State : Waitable {
    State() : Waitable(false), resume(true, false) {}
    void MarkEnded() { Signal(); }

    std::mutex cs;
    std::thread thread;  // joined or detached by the owner, under cs
    Event resume;
    bool bResumed = false;       // under cs
    bool bCancelled = false;     // under cs: the object went away before Resume
    bool bEnded = false;         // under cs
    bool bAbandoned = false;     // under cs
    uint32_t nExitCode = STILL_ACTIVE_;  // under cs
    std::atomic<bool> bAbandonedFlag{false};  // read by the thread itself without the lock
};

namespace {
thread_local Thread::State* t_current = nullptr;
}

bool ThisThreadAbandoned() {
    return t_current != nullptr && t_current->bAbandonedFlag.load();
}

std::unique_ptr<Thread> Thread::Create(std::function<uint32_t()> fn, int /*nPriority*/, bool bSuspended) {
    auto state = std::make_shared<State>();
    if (!bSuspended) {
        state->bResumed = true;
        state->resume.Set();
    }
    try {
        std::lock_guard<std::mutex> guard(state->cs);
        state->thread = std::thread([state, fn = std::move(fn)]() {
            t_current = state.get();
            PrepareThreadForCrashes();
            state->resume.Wait(INFINITE_);
            bool bRun;
            {
                std::lock_guard<std::mutex> g(state->cs);
                bRun = !state->bCancelled;
            }
            const uint32_t nResult = bRun ? fn() : 0;
            {
                std::lock_guard<std::mutex> g(state->cs);
                state->bEnded = true;
                if (state->bAbandoned) return;  // the code given to Terminate stands
                state->nExitCode = nResult;
            }
            state->MarkEnded();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(state)));
}

Thread::Thread(std::shared_ptr<State> state) : m_state(std::move(state)) {}

Thread::~Thread() {
    std::unique_lock<std::mutex> lock(m_state->cs);
    if (!m_state->bResumed) {
        m_state->bCancelled = true;
        m_state->resume.Set();
    }
    if (!m_state->thread.joinable()) return;
    if (m_state->bEnded || m_state->bCancelled) {
        std::thread t = std::move(m_state->thread);
        lock.unlock();
        t.join();  // it is at its very end (or skips its function)
    } else {
        m_state->thread.detach();
    }
}

bool Thread::Resume() {
    std::lock_guard<std::mutex> guard(m_state->cs);
    if (m_state->bResumed) return true;
    m_state->bResumed = true;
    m_state->resume.Set();
    return true;
}

Waitable* Thread::Handle() { return m_state.get(); }

bool Thread::GetExitCode(uint32_t& nExitCode) {
    std::lock_guard<std::mutex> guard(m_state->cs);
    nExitCode = m_state->nExitCode;
    return true;
}

bool Thread::Terminate(uint32_t nExitCode) {
    {
        std::lock_guard<std::mutex> guard(m_state->cs);
        if (m_state->bEnded || m_state->bAbandoned) return false;
        m_state->bAbandoned = true;
        m_state->bAbandonedFlag = true;
        m_state->nExitCode = nExitCode;
        if (!m_state->bResumed) {
            m_state->bCancelled = true;
            m_state->bResumed = true;
            m_state->resume.Set();
        }
        if (m_state->thread.joinable()) m_state->thread.detach();
    }
    m_state->MarkEnded();
    return true;
}

}  // namespace platform
