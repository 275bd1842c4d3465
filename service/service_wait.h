#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

// Lets a service thread sleep and still end at once when its owner goes away.
class ServiceStop final {
public:
    void requestStop();
    bool stopRequested() const;
    // Waits up to `milliseconds` (scaled like every prescribed wait); true
    // when the stop came first.
    bool waitFor(qint64 milliseconds) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopped = false;
};

namespace service {
// A prescribed pause: on the user-interface thread the window stays live (a
// nested event loop runs), elsewhere the thread sleeps.
void pauseKeepingEvents(qint64 milliseconds);
} // namespace service
