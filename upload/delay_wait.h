#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

// Stop for a job thread: every wait and poll of the job checks it, and once
// it is set the job unwinds to its top (by the JobStopped exception, which
// never leaves the upload code), so Stop takes effect at once without
// killing threads.
class StopToken final {
public:
    StopToken();
    void requestStop();
    bool stopRequested() const;
    // Waits up to `ms`; true when the stop came first.
    bool waitFor(qint64 ms) const;

private:
    struct State {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        // Atomic as well as guarded: the wait's predicate reads it while a
        // stop is being requested from another thread.
        std::atomic<bool> stopped{false};
    };
    std::shared_ptr<State> m_state;
};

struct JobStopped {};

// Binds a stop token to the calling thread for the scope's lifetime.
class StopScope final {
public:
    explicit StopScope(const StopToken &token);
    ~StopScope();
    StopScope(const StopScope &) = delete;
    StopScope &operator=(const StopScope &) = delete;

private:
    const StopToken *m_previous = nullptr;
};

// Waits amount x the unit's milliseconds (0: 1 ms, 1: seconds, 2: minutes,
// 3: hours, any other value: that many ms per unit), scaled by
// TOLVAR_TIME_SCALE. On the user-interface thread the window stays live (a
// nested event loop runs); on a job thread the wait ends at once when the
// job is stopped, by throwing JobStopped. Always true otherwise.
bool DelayWait(int amount, qint64 unit = 0);
bool delayWaitMs(qint64 milliseconds);
// Milliseconds this thread has spent in DelayWait so far (after scaling).
qint64 waitedOnThisThread();
// A point where a poll lets pending work run: throws JobStopped once stopped.
void checkStop();
// Whether the calling job thread has been told to stop (no throw).
bool stopRequestedHere();
// Lets pending events of the user-interface thread run (no-op elsewhere).
void processPendingEvents();
