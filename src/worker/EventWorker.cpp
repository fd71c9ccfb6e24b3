#include "worker/EventWorker.h"

#include <algorithm>
#include <mutex>

CEventWorker::CEventWorker(bool bManualReset) {
    m_hEvent = platform::CreateEvent(bManualReset, false);
}

CEventWorker::~CEventWorker() { m_hEvent.reset(); }

bool CEventWorker::Create(int nType) {
    if (nType == kManualReset || nType == kAutoReset) {
        if (m_hEvent) m_retiredEvents.push_back(std::move(m_hEvent));
        m_hEvent = platform::CreateEvent(nType == kManualReset, false);
    }
    return m_hEvent != nullptr;
}

int CEventWorker::Execute() { return 0; }

void CEventWorker::SetEvent() {
    if (m_hEvent) m_hEvent->Set();
}

void CEventWorker::ResetEvent() {
    if (m_hEvent) m_hEvent->Reset();
}

CEventChangeWorker::CEventChangeWorker()
    : CEventWorker(true), m_hBarrier(platform::CreateEvent(true, false)) {}

CEventChangeWorker::~CEventChangeWorker() = default;

int CEventChangeWorker::Execute() {
    const int32_t c = m_pGroup != nullptr ? m_pGroup->m_nThreadCount.load() : 1;
    if (c <= 1) {
        ResetEvent();
        return 1;
    }
    std::shared_ptr<platform::Event> round;
    {
        std::lock_guard<platform::CriticalSection> guard(m_csRound);
        if (m_bOpen) return 1;
        // Counting and testing in one step: two threads must never both see themselves short
        // of the last place and then wait for each other.
        if (platform::InterlockedIncrement(m_nWaiting) >= c) {
            ResetEvent();
            platform::InterlockedExchange(m_nWaiting, 0);
            m_hBarrier->Set();
            m_hBarrier = platform::CreateEvent(true, false);
            return 1;
        }
        round = m_hBarrier;
    }
    round->Wait(platform::INFINITE_);
    return 1;
}

void CEventChangeWorker::SetOpen(bool bOpen) {
    std::lock_guard<platform::CriticalSection> guard(m_csRound);
    m_bOpen = bOpen;
    if (bOpen) {
        platform::InterlockedExchange(m_nWaiting, 0);
        m_hBarrier->Set();
        m_hBarrier = platform::CreateEvent(true, false);
    }
}

CEventGroup::CEventGroup() : m_pChangeWorker(std::make_unique<CEventChangeWorker>()) {
    m_pChangeWorker->m_pGroup = this;
    m_pChangeWorker->ResetEvent();
    std::lock_guard<platform::CriticalSection> guard(m_cs);
    m_workers.push_back(m_pChangeWorker.get());
}

CEventGroup::~CEventGroup() = default;

int CEventGroup::OnTimeout() { return 1; }
int CEventGroup::OnAfterWake() { return 1; }

bool CEventGroup::AddWorker(CEventWorker* pWorker) {
    if (pWorker == nullptr) return false;
    {
        std::lock_guard<platform::CriticalSection> guard(m_cs);
        if (std::find(m_workers.begin(), m_workers.end(), pWorker) != m_workers.end()) return false;
        m_workers.push_back(pWorker);
        // Under the lock: a supervisor may read it as soon as the worker is listed.
        pWorker->m_pGroup = this;
        pWorker->ResetEvent();
    }
    m_pChangeWorker->SetEvent();
    return true;
}

int CEventGroup::ExecuteWorker(int nIndex) {
    CEventWorker* pWorker = nullptr;
    {
        std::lock_guard<platform::CriticalSection> guard(m_cs);
        if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_workers.size()) return 0;
        pWorker = m_workers[static_cast<size_t>(nIndex)];
        if (pWorker == nullptr || pWorker->m_pGroup == nullptr) return 0;
    }
    return pWorker->Execute();
}

size_t CEventGroup::WorkerCount() {
    std::lock_guard<platform::CriticalSection> guard(m_cs);
    return m_workers.size();
}

bool CEventGroup::CopyEvents(std::vector<platform::Waitable*>& out) {
    // A worker without an event never fires (as waiting on no event never ends).
    static platform::Event never(true, false);
    std::lock_guard<platform::CriticalSection> guard(m_cs);
    out.assign(m_workers.size() + 1, nullptr);
    for (size_t i = 0; i < m_workers.size(); ++i) {
        if (m_workers[i] == nullptr) return false;
        out[i + 1] = m_workers[i]->m_hEvent ? m_workers[i]->m_hEvent.get() : &never;
    }
    return true;
}
