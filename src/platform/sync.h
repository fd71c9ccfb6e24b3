// Events, waits on several objects, critical sections and interlocked counters.
// Both backends keep the wait results of the Win32 calls: WAIT_OBJECT_0 + i, WAIT_TIMEOUT,
// WAIT_FAILED; in wait-any mode the lowest signalled slot wins, and a satisfied auto-reset
// event is consumed by exactly one waiter. Wait-all is satisfied atomically: auto-reset events
// are consumed only when every object is signalled at once.
// Linux: one process-wide mutex guards the state of every waitable object; each waiter has its
// own condition variable, so a Set wakes only the threads waiting on that object. There is no
// limit on the number of objects (Windows: 64 per wait). Windows: the kernel objects themselves.
// Window messages: Linux has no per-thread message queue, so the thread that owns the windows
// keeps a MessageQueue and hands it to MsgWaitForMultipleObjects; Windows uses the thread's queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

namespace platform {

inline constexpr uint32_t INFINITE_ = 0xFFFFFFFFu;
inline constexpr uint32_t WAIT_OBJECT_0_ = 0;
inline constexpr uint32_t WAIT_TIMEOUT_ = 258;
inline constexpr uint32_t WAIT_FAILED_ = 0xFFFFFFFFu;

// Something a thread can wait for: an event or a thread (signalled when it has ended).
class Waitable {
public:
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;
    virtual ~Waitable();

    struct State;
    State& state() { return *m_state; }

protected:
    explicit Waitable(bool bAutoReset);
    // Marks the object signalled and wakes its waiters.
    void Signal();
    void Unsignal();

private:
    std::unique_ptr<State> m_state;
};

// An unnamed event.
class Event : public Waitable {
public:
    Event(bool bManualReset, bool bInitialState);
    void Set() { Signal(); }
    void Reset() { Unsignal(); }
    // True when the event is signalled (consumes it when auto-reset), false after the time-out.
    bool Wait(uint32_t dwMilliseconds);
};

// A new unnamed event, or null when it could not be created.
std::unique_ptr<Event> CreateEvent(bool bManualReset, bool bInitialState);

// WAIT_OBJECT_0 + i (wait-any: the lowest signalled slot; wait-all: WAIT_OBJECT_0 once all are
// signalled), WAIT_TIMEOUT, or WAIT_FAILED for an empty list or a null object.
uint32_t WaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll,
                                uint32_t dwMilliseconds);
uint32_t WaitForSingleObject(Waitable* handle, uint32_t dwMilliseconds);

// The queue of messages posted to one thread (the thread that owns the windows).
class MessageQueue {
public:
    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Any thread may post; the owning thread dispatches.
    void Post(std::function<void()> message);
    void PostQuit();
    bool HasInput();
    // Removes and runs messages in order until the queue is empty or a quit message has been
    // removed (the quit is not run). Returns true when a quit was removed.
    bool DispatchPending();

    Event& InputEvent() { return m_input; }

private:
    struct Message {
        std::function<void()> run;
        bool bQuit = false;
    };
    std::mutex m_cs;
    std::deque<Message> m_messages;
    Event m_input;  // signalled while the queue is not empty
};

// As WaitForMultipleObjects, but also returns WAIT_OBJECT_0 + handles.size() as soon as the
// queue holds a message (a null queue never does). In wait-all mode the objects alone decide:
// the call does not also wait for input.
uint32_t MsgWaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll,
                                   uint32_t dwMilliseconds, MessageQueue* queue);

// A critical section: a lock the owning thread may take again.
class CriticalSection {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // For std::lock_guard / std::unique_lock.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// 32-bit counters changed only by interlocked operations; each returns what the Win32 call
// returns (the new value for increment/decrement, the old one for exchange).
using InterlockedLong = std::atomic<int32_t>;
inline int32_t InterlockedIncrement(InterlockedLong& value) { return ++value; }
inline int32_t InterlockedDecrement(InterlockedLong& value) { return --value; }
inline int32_t InterlockedExchange(InterlockedLong& value, int32_t nNew) { return value.exchange(nNew); }

}  // namespace platform
