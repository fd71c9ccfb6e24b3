#include "platform/sync.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/windows/sync_state.h"

// <windows.h> names the Win32 call CreateEventW through this macro.
#undef CreateEvent

namespace platform {

Waitable::Waitable(bool bAutoReset) : m_state(std::make_unique<State>()) {
    m_state->handle = ::CreateEventW(nullptr, bAutoReset ? FALSE : TRUE, FALSE, nullptr);
}

Waitable::~Waitable() {
    if (m_state->handle != nullptr) ::CloseHandle(m_state->handle);
}

void Waitable::Signal() { ::SetEvent(m_state->handle); }

void Waitable::Unsignal() { ::ResetEvent(m_state->handle); }

Event::Event(bool bManualReset, bool bInitialState) : Waitable(!bManualReset) {
    if (bInitialState) Set();
}

bool Event::Wait(uint32_t dwMilliseconds) { return ::WaitForSingleObject(state().handle, dwMilliseconds) == WAIT_OBJECT_0; }

std::unique_ptr<Event> CreateEvent(bool bManualReset, bool bInitialState) {
    try {
        auto event = std::make_unique<Event>(bManualReset, bInitialState);
        return event->state().handle != nullptr ? std::move(event) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

namespace {

// The kernel handles of the objects, or an empty list when one of them is missing.
std::vector<HANDLE> Handles(std::span<Waitable* const> objects) {
    std::vector<HANDLE> out;
    for (Waitable* w : objects) {
        if (w == nullptr || w->state().handle == nullptr) return {};
        out.push_back(w->state().handle);
    }
    return out;
}

}  // namespace

uint32_t WaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll, uint32_t dwMilliseconds) {
    const std::vector<HANDLE> h = Handles(handles);
    if (h.empty() || h.size() > MAXIMUM_WAIT_OBJECTS) return WAIT_FAILED_;
    return ::WaitForMultipleObjects(static_cast<DWORD>(h.size()), h.data(), bWaitAll ? TRUE : FALSE, dwMilliseconds);
}

uint32_t WaitForSingleObject(Waitable* handle, uint32_t dwMilliseconds) {
    return WaitForMultipleObjects(std::span<Waitable* const>(&handle, 1), false, dwMilliseconds);
}

uint32_t MsgWaitForMultipleObjects(std::span<Waitable* const> handles, bool bWaitAll, uint32_t dwMilliseconds,
                                   MessageQueue* queue) {
    if (queue == nullptr) return WaitForMultipleObjects(handles, bWaitAll, dwMilliseconds);
    std::vector<HANDLE> h = Handles(handles);
    if (h.size() != handles.size() || h.size() + 1 > MAXIMUM_WAIT_OBJECTS) return WAIT_FAILED_;
    const HANDLE input = queue->InputEvent().state().handle;
    const uint32_t inputResult = WAIT_OBJECT_0_ + static_cast<uint32_t>(handles.size());
    if (!bWaitAll) {
        h.push_back(input);
        // Input for the thread's own windows counts as queue input too.
        const DWORD r = ::MsgWaitForMultipleObjects(static_cast<DWORD>(h.size()), h.data(), FALSE, dwMilliseconds,
                                                    QS_ALLINPUT);
        return r == WAIT_OBJECT_0 + h.size() ? inputResult : r;
    }
    // All the objects, or input: no single Win32 wait says that (its wait-all also waits for
    // input), so the objects are tried atomically between short waits for input.
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (!h.empty()) {
            const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(h.size()), h.data(), TRUE, 0);
            if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return r;
        }
        if (::WaitForSingleObject(input, 0) == WAIT_OBJECT_0 || ::GetQueueStatus(QS_ALLINPUT) != 0) return inputResult;
        const ULONGLONG spent = ::GetTickCount64() - start;
        if (dwMilliseconds != INFINITE_ && spent >= dwMilliseconds) return WAIT_TIMEOUT_;
        DWORD slice = 10;
        if (dwMilliseconds != INFINITE_ && dwMilliseconds - spent < slice) slice = static_cast<DWORD>(dwMilliseconds - spent);
        ::MsgWaitForMultipleObjects(1, &input, FALSE, slice, QS_ALLINPUT);
    }
}

}  // namespace platform
