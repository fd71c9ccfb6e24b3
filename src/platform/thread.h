// Worker threads: created suspended, resumed, waited on (a thread is a Waitable that is
// signalled when it has ended), asked for its exit code, terminated.
//
// Terminating a thread. Windows kills the thread where it stands. POSIX offers no sound way to
// do that: cancelling or signalling a thread that holds a lock, is inside the allocator or is
// half-way through writing a file leaves the whole process broken. So on Linux Terminate
// *abandons* the thread instead: the thread is detached and keeps running to the end of what
// it was doing; from then on its handle is signalled, its exit code is the one passed to
// Terminate, and its own return value is discarded. The code it runs may check
// ThisThreadAbandoned() and return without touching the objects of its former owner.
// Consequences for the whole process, which the owner of an abandoned thread accepts:
//  - everything the abandoned code still uses must stay alive; in practice the process should
//    end soon after (the updater terminates threads only on its way out);
//  - a lock the thread holds stays held until it releases it itself;
//  - the process may end while the thread still runs: end it with an exit that does not run
//    static destructors under the thread's feet.
// Priorities: Linux runs every worker at normal priority (raising one needs privileges).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sync.h"

namespace platform {

inline constexpr uint32_t STILL_ACTIVE_ = 259;

class Thread {
public:
    // Starts a thread running fn; with bSuspended it waits for Resume before running fn.
    // Null when the system cannot create the thread.
    static std::unique_ptr<Thread> Create(std::function<uint32_t()> fn, int nPriority, bool bSuspended);

    // Ending the object does not end the thread: a thread that is still running goes on
    // detached; one that was never resumed ends without running its function.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Resume();
    // The handle to wait on (valid while this object lives).
    Waitable* Handle();
    // STILL_ACTIVE_ while the thread runs, then its result (or the code it was terminated with).
    bool GetExitCode(uint32_t& nExitCode);
    // See the note at the top. False when there is nothing to terminate.
    bool Terminate(uint32_t nExitCode);

    struct State;

private:
    explicit Thread(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

// True on a thread that has been terminated (abandoned) by its owner.
bool ThisThreadAbandoned();

}  // namespace platform
