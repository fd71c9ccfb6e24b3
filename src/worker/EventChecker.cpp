#include "worker/EventChecker.h"

#include <chrono>
#include <mutex>

CEventChecker::CEventChecker() : m_hStop(platform::CreateEvent(true, false)) {}

CEventChecker::~CEventChecker() {
    // The group may already be gone; the threads find it detached and end.
    m_pGroup = nullptr;
    ReleaseThread();
}

bool CEventChecker::Start(CEventGroup* pGroup, int nCount) {
    if (pGroup == nullptr) return false;
    if (!ReleaseThread()) return false;
    CEventGroup* pNone = nullptr;
    m_pGroup.compare_exchange_strong(pNone, pGroup);
    m_pGroup.load()->m_nThreadCount = nCount;
    return StartThreads(nCount);
}

bool CEventChecker::StartThreads(int nCount) {
    if (!m_hStop) return false;
    m_hStop->Reset();
    if (CEventGroup* pGroup = m_pGroup.load()) {
        pGroup->m_pChangeWorker->SetOpen(false);
        // Running before any thread exists, so that a Stop right after Start cannot mistake the
        // new threads for stopped ones.
        platform::InterlockedExchange(m_lRunning, 1);
    }
    std::vector<platform::Thread*> created;
    for (int i = 0; i < nCount; ++i) {
        auto thread = platform::Thread::Create([this]() { return ThreadEntry(this); }, m_nPriority, true);
        if (!thread) return false;
        created.push_back(thread.get());
        std::lock_guard<platform::CriticalSection> guard(m_cs);
        m_threads.push_back(std::move(thread));
    }
    std::lock_guard<platform::CriticalSection> guard(m_cs);
    for (platform::Thread* t : created) t->Resume();
    return true;
}

bool CEventChecker::Stop() {
    bool bResult = false;
    try {
        if (CEventGroup* pGroup = m_pGroup.load()) {
            pGroup->m_dwTimeout = platform::INFINITE_;
            pGroup->m_pChangeWorker->SetEvent();
        }
        bResult = ReleaseThread();
    } catch (...) {
        bResult = false;
    }
    m_pGroup = nullptr;
    return bResult;
}

bool CEventChecker::WaitForThreads(std::span<platform::Waitable* const> handles) {
    using Clock = std::chrono::steady_clock;
    if (!m_bPumpMessages) {
        return platform::WaitForMultipleObjects(handles, true, m_dwReleaseSliceMs) == platform::WAIT_OBJECT_0_;
    }
    // Slices are measured by the clock: messages arriving all the time (timers) must not keep
    // a hung thread from being given up.
    bool bQuit = false;
    bool bEnded = false;
    int nTimedOut = 0;
    auto sliceEnd = Clock::now() + std::chrono::milliseconds(m_dwReleaseSliceMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(sliceEnd - Clock::now());
        const uint32_t dwWait = left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
        const uint32_t r = platform::MsgWaitForMultipleObjects(handles, true, dwWait, m_pMessages);
        if (r == platform::WAIT_OBJECT_0_) {
            bEnded = true;
            break;
        }
        if (r == platform::WAIT_OBJECT_0_ + handles.size() && m_pMessages != nullptr) {
            if (m_pMessages->DispatchPending()) bQuit = true;
            continue;
        }
        if (r != platform::WAIT_TIMEOUT_ || ++nTimedOut >= kPumpingSlices) break;
        sliceEnd += std::chrono::milliseconds(m_dwReleaseSliceMs);
    }
    // A quit request taken off the queue belongs to the thread's own message loop.
    if (bQuit) m_pMessages->PostQuit();
    return bEnded;
}

bool CEventChecker::ReleaseThread() {
    std::vector<std::unique_ptr<platform::Thread>> threads;
    std::vector<platform::Waitable*> handles;
    {
        std::lock_guard<platform::CriticalSection> guard(m_cs);
        // Threads that ended by themselves are still listed and are collected here too.
        if (m_threads.empty() || !m_hStop) return true;
        threads.swap(m_threads);
    }
    for (auto& t : threads) handles.push_back(t->Handle());

    platform::InterlockedExchange(m_lRunning, 0);
    m_hStop->Set();
    if (CEventGroup* pGroup = m_pGroup.load()) pGroup->m_pChangeWorker->SetOpen(true);

    const bool bEnded = WaitForThreads(handles);
    m_hStop->Reset();

    if (!bEnded) {
        for (auto& t : threads) {
            uint32_t nCode = 0;
            if (!t->GetExitCode(nCode)) continue;
            if (nCode == platform::STILL_ACTIVE_ && t->Terminate(kHungExitCode)) m_bAbandoned = true;
        }
    }
    threads.clear();
    return true;
}

uint32_t CEventChecker::ThreadEntry(CEventChecker* pChecker) {
    if (pChecker != nullptr) {
        try {
            pChecker->OnChecker();
        } catch (...) {
            // A failing supervisor ends quietly.
        }
    }
    return 1;
}

void CEventChecker::OnChecker() {
    platform::InterlockedExchange(m_lRunning, m_pGroup.load() != nullptr ? 1 : 0);
    std::vector<platform::Waitable*> slots;
    while (m_lRunning != 0) {
        CEventGroup* pGroup = m_pGroup.load();
        if (pGroup == nullptr || !pGroup->CopyEvents(slots)) {
            platform::InterlockedExchange(m_lRunning, 0);
            break;
        }
        slots[0] = m_hStop.get();
        const uint32_t r = platform::WaitForMultipleObjects(slots, false, pGroup->m_dwTimeout);
        if (r == platform::WAIT_TIMEOUT_) {
            pGroup->OnTimeout();
        } else if (r == platform::WAIT_OBJECT_0_) {
            platform::InterlockedExchange(m_lRunning, 0);
        } else if (r < platform::WAIT_OBJECT_0_ + slots.size()) {
            pGroup->ExecuteWorker(static_cast<int>(r - platform::WAIT_OBJECT_0_) - 1);
        }
        // A thread given up by its owner must not touch the checker again: it may be gone.
        if (platform::ThisThreadAbandoned()) return;
        if (CEventGroup* pNow = m_pGroup.load(); pNow != nullptr && m_lRunning == 1) {
            pNow->OnAfterWake();
            if (platform::ThisThreadAbandoned()) return;
        }
    }
}
