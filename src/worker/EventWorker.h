// Work run on supervisor threads when an event is signalled: workers, the group that lists
// them, and the group's change worker whose barrier keeps the threads' wait lists in step.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sync.h"

class CEventGroup;

// One event and one operation. A worker that is not in a group is never executed.
class CEventWorker {
public:
    enum { kManualReset = 0, kAutoReset = 1 };

    // Creates an unnamed, non-signalled event of the given reset mode.
    explicit CEventWorker(bool bManualReset);
    virtual ~CEventWorker();
    CEventWorker(const CEventWorker&) = delete;
    CEventWorker& operator=(const CEventWorker&) = delete;

    // Type 0: manual-reset event, 1: auto-reset, else nothing. True when the worker has an event.
    // An event already there is not closed (a supervisor may be waiting on it); it is kept
    // until the worker goes.
    virtual bool Create(int nType);
    // The work; non-zero for success. The base does nothing and fails.
    virtual int Execute();

    void SetEvent();
    void ResetEvent();

    // Null means "no event".
    std::unique_ptr<platform::Event> m_hEvent;
    // Set under the group's lock when the worker is added (see CEventGroup).
    CEventGroup* m_pGroup = nullptr;

private:
    std::vector<std::unique_ptr<platform::Event>> m_retiredEvents;
};

// Signalled whenever the group's list changes; its Execute is a barrier that lets every
// supervisor thread of the group through together before any of them rebuilds its wait list.
class CEventChangeWorker : public CEventWorker {
public:
    CEventChangeWorker();
    ~CEventChangeWorker() override;

    int Execute() override;
    // Opened while the group's threads are being stopped: every thread in the barrier goes on
    // and later arrivals pass straight through (a thread that ends never arrives, and those
    // waiting for it would wait forever). Closed again when threads are started.
    void SetOpen(bool bOpen);

    platform::InterlockedLong m_nWaiting{0};

private:
    // One event per round of the barrier: the last thread to arrive sets the round's event and
    // starts a new round, so a fast thread coming back cannot slip through an open barrier.
    platform::CriticalSection m_csRound;
    std::shared_ptr<platform::Event> m_hBarrier;
    bool m_bOpen = false;  // under m_csRound
};

class CEventGroup {
public:
    CEventGroup();
    virtual ~CEventGroup();
    CEventGroup(const CEventGroup&) = delete;
    CEventGroup& operator=(const CEventGroup&) = delete;

    // Called by a supervisor thread whose wait timed out.
    virtual int OnTimeout();
    // Called by a supervisor thread after each wake-up it handled while running.
    virtual int OnAfterWake();

    // Adds a worker (not owned); false when it is already listed. Wakes the supervisors.
    bool AddWorker(CEventWorker* pWorker);
    // Runs the worker at the index without any lock held; 0 when there is none or it failed.
    int ExecuteWorker(int nIndex);

    size_t WorkerCount();
    // Slot i + 1 gets the event of worker i, read in one step under the lock; slot 0 is left
    // for the caller. False when a worker pointer is missing.
    bool CopyEvents(std::vector<platform::Waitable*>& out);

    platform::CriticalSection m_cs;
    std::vector<CEventWorker*> m_workers;  // the change worker is owned and always first
    std::atomic<uint32_t> m_dwTimeout{platform::INFINITE_};
    std::unique_ptr<CEventChangeWorker> m_pChangeWorker;
    std::atomic<int32_t> m_nThreadCount{0};
};

// Free-standing form used by the manager.
inline bool AddWorker(CEventGroup* pGroup, CEventWorker* pWorker) {
    return pGroup != nullptr && pGroup->AddWorker(pWorker);
}
