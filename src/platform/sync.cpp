#include "platform/sync.h"

namespace platform {

// The posted-message queue is the same on both platforms; only the waits differ.

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
