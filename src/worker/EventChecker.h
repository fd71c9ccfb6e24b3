// Supervisor threads for a group of workers: each waits on a stop event plus the events of all
// workers and runs the worker whose event was signalled (the lowest slot wins, so the stop event
// comes before every worker and the change worker before the others).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sync.h"
#include "platform/thread.h"
#include "worker/EventWorker.h"

class CEventChecker {
public:
    // Slices of the bounded wait in ReleaseThread, and how many of them a pumping wait allows.
    static constexpr uint32_t kReleaseSliceMs = 5000;
    static constexpr int kPumpingSlices = 5;
    // Exit code given to threads that had to be terminated.
    static constexpr uint32_t kHungExitCode = platform::STILL_ACTIVE_;

    CEventChecker();
    // Releases threads still listed (waiting boundedly, as Stop does) so that none of them is
    // left running on a destroyed checker; the owner normally calls Stop first.
    virtual ~CEventChecker();
    CEventChecker(const CEventChecker&) = delete;
    CEventChecker& operator=(const CEventChecker&) = delete;

    // Starts supervising the group with nCount threads. A group once attached stays attached
    // until Stop: a second Start with another group still runs the first one.
    virtual bool Start(CEventGroup* pGroup, int nCount);
    // Stops the threads (bounded, see ReleaseThread) and detaches the group.
    virtual bool Stop();

    bool StartThreads(int nCount);
    // Signals the threads to stop and waits for them in slices of kReleaseSliceMs; threads
    // still running afterwards are terminated (see platform/thread.h for what that means here).
    bool ReleaseThread();
    // The loop of one supervisor thread.
    void OnChecker();

    platform::CriticalSection m_cs;
    std::vector<std::unique_ptr<platform::Thread>> m_threads;  // under m_cs
    std::atomic<CEventGroup*> m_pGroup{nullptr};
    std::unique_ptr<platform::Event> m_hStop;
    platform::InterlockedLong m_lRunning{0};
    int m_nPriority = 0;
    // When set, ReleaseThread dispatches the messages of m_pMessages while it waits, so that
    // Stop may be called on the thread that owns the windows.
    int m_bPumpMessages = 0;
    platform::MessageQueue* m_pMessages = nullptr;
    // Length of one slice of the bounded wait (tests shorten it).
    uint32_t m_dwReleaseSliceMs = kReleaseSliceMs;

    // True once a thread had to be terminated. On POSIX such a thread still runs (see
    // platform/thread.h): whatever it uses must then outlive it.
    bool HasAbandonedThreads() const { return m_bAbandoned.load(); }

private:
    std::atomic<bool> m_bAbandoned{false};
    static uint32_t ThreadEntry(CEventChecker* pChecker);
    // True when every thread ended in time.
    bool WaitForThreads(std::span<platform::Waitable* const> handles);
};
