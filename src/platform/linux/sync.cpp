#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <vector>

namespace platform {

namespace {

// Guards the signalled state and the waiter lists of every waitable object, so that wait-all
// can look at (and consume) several objects as one step.
std::mutex& WaitLock() {
    static std::mutex lock;
    return lock;
}

struct Waiter {
    std::condition_variable cv;
};

}  // namespace

struct Waitable::State {
    bool bAutoReset = false;
    bool bSignalled = false;
    std::vector<Waiter*> waiters;
};

Waitable::Waitable(bool bAutoReset) : m_state(std::make_unique<State>()) {
    m_state->bAutoReset = bAutoReset;
}

Waitable::~Waitable() = default;

void Waitable::Signal() {
    std::lock_guard<std::mutex> guard(WaitLock());
    m_state->bSignalled = true;
    for (Waiter* w : m_state->waiters) w->cv.notify_one();
}

void Waitable::Unsignal() {
    std::lock_guard<std::mutex> guard(WaitLock());
    m_state->bSignalled = false;
}

Event::Event(bool bManualReset, bool bInitialState) : Waitable(!bManualReset) {
    if (bInitialState) Set();
}

bool Event::Wait(uint32_t dwMilliseconds) {
    Waitable* self = this;
    return WaitForMultipleObjects(std::span<Waitable* const>(&self, 1), false, dwMilliseconds) ==
           WAIT_OBJECT_0_;
}

std::unique_ptr<Event> CreateEvent(bool bManualReset, bool bInitialState) {
    try {
        return std::make_unique<Event>(bManualReset, bInitialState);
    } catch (...) {
        return nullptr;
    }
}

namespace {

constexpr uint32_t kNoResult = 0xFFFFFFFEu;

// Called with the wait lock held: the result if the wait is satisfied now (consuming auto-reset
// objects), else kNoResult.
uint32_t TrySatisfy(std::span<Waitable* const> handles, bool bWaitAll, MessageQueue* queue) {
    if (bWaitAll) {
        const bool bAll = std::all_of(handles.begin(), handles.end(),
                                      [](Waitable* h) { return h->state().bSignalled; });
        if (bAll && !handles.empty()) {
            for (Waitable* h : handles) {
                if (h->state().bAutoReset) h->state().bSignalled = false;
            }
            return WAIT_OBJECT_0_;
        }
    } else {
        for (size_t i = 0; i < handles.size(); ++i) {
            Waitable::State& s = handles[i]->state();
            if (s.bSignalled) {
                if (s.bAutoReset) s.bSignalled = false;
                return WAIT_OBJECT_0_ + static_cast<uint32_t>(i);
            }
        }
    }
    if (queue != nullptr && queue->InputEvent().state().bSignalled) {
        return WAIT_OBJECT_0_ + static_cast<uint32_t>(handles.size());
    }
    return kNoResult;
}

uint32_t WaitImpl(std::span<Waitable* const> handles, bool bWaitAll, uint32_t dwMilliseconds,
                  MessageQueue* queue) {
    if (handles.empty() && queue == nullptr) return WAIT_FAILED_;
    if (std::any_of(handles.begin(), handles.end(), [](Waitable* h) { return h == nullptr; })) {
        return WAIT_FAILED_;
    }
    std::vector<Waitable*> watched(handles.begin(), handles.end());
    if (queue != nullptr) watched.push_back(&queue->InputEvent());

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    std::unique_lock<std::mutex> lock(WaitLock());
    uint32_t result = TrySatisfy(handles, bWaitAll, queue);
    if (result != kNoResult) return result;
    if (dwMilliseconds == 0) return WAIT_TIMEOUT_;

    Waiter me;
    for (Waitable* h : watched) h->state().waiters.push_back(&me);
    for (;;) {
        if (dwMilliseconds == INFINITE_) {
            me.cv.wait(lock);
        } else if (me.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            result = TrySatisfy(handles, bWaitAll, queue);
            if (result == kNoResult) result = WAIT_TIMEOUT_;
            break;
        }
        result = TrySatisfy(handles, bWaitAll, queue);
        if (result != kNoResult) break;
    }
    for (Waitable* h : watched) {
        auto& list = h->state().waiters;
        list.erase(std::find(list.begin(), list.end(), &me));
    }
    return result;
}

}  // namespace

uint32_t WaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll,
                                uint32_t dwMilliseconds) {
    if (handles.empty()) return WAIT_FAILED_;
    return WaitImpl(handles, bWaitAll, dwMilliseconds, nullptr);
}

uint32_t WaitForSingleObject(Waitable* handle, uint32_t dwMilliseconds) {
    return WaitForMultipleObjects(std::span<Waitable* const>(&handle, 1), false, dwMilliseconds);
}

uint32_t MsgWaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll,
                                   uint32_t dwMilliseconds, MessageQueue* queue) {
    return WaitImpl(handles, bWaitAll, dwMilliseconds, queue);
}

MessageQueue::MessageQueue() : m_input(true, false) {}
MessageQueue::~MessageQueue() = default;

void MessageQueue::Post(std::function<void()> message) {
    std::lock_guard<std::mutex> guard(m_cs);
    m_messages.push_back(Message{std::move(message), false});
    m_input.Set();
}

void MessageQueue::PostQuit() {
    std::lock_guard<std::mutex> guard(m_cs);
    m_messages.push_back(Message{nullptr, true});
    m_input.Set();
}

bool MessageQueue::HasInput() {
    std::lock_guard<std::mutex> guard(m_cs);
    return !m_messages.empty();
}

bool MessageQueue::DispatchPending() {
    for (;;) {
        Message msg;
        {
            std::lock_guard<std::mutex> guard(m_cs);
            if (m_messages.empty()) return false;
            msg = std::move(m_messages.front());
            m_messages.pop_front();
            if (m_messages.empty()) m_input.Reset();
        }
        if (msg.bQuit) return true;
        if (msg.run) msg.run();  // outside the lock: a message may post more
    }
}

}  // namespace platform
