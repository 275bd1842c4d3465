#pragma once

#include <atomic>
#include <functional>

// The upload job's process-wide state, shared by the job thread, the
// per-video ticker and the window. The row being worked on (`currentRow`)
// belongs to the accounts, whose commands set it too.

// The page all automation addresses, and the browser that shows it.
extern std::atomic<int> currentPageId;
extern std::atomic<int> currentBrowserId;

// Seconds spent on the current video, and the limit (0 = none).
extern std::atomic<int> elapsedSeconds;
extern std::atomic<int> giveUpSeconds;
// The handle of the current video's ticker (also kept in the job context).
extern std::atomic<int> currentTickerId;

// Several accounts can be worked on at once, each in a lane of its own. What
// belongs to the one video being worked on (its page and browser, its
// seconds, its ticker) belongs to a lane: lane 1's is the process-wide state
// above, every other lane has its own. A lane's state is handed to what
// works for it (its browser session, its pipeline, its ticker), never found
// through the calling thread, so nothing a lane does moves another's.
class LaneState final {
public:
    // A lane of its own (number 2 and up; 0 for a login window's session,
    // which belongs to no lane).
    explicit LaneState(int number);
    ~LaneState();
    LaneState(const LaneState &) = delete;
    LaneState &operator=(const LaneState &) = delete;

    // Lane 1: the process-wide state.
    static LaneState &first();
    // Runs `visit` for every lane that exists (page events reach them all).
    static void forEach(const std::function<void(LaneState &)> &visit);

    const int number;
    std::atomic<int> &pageId;
    std::atomic<int> &browserId;
    std::atomic<int> &elapsedSeconds;
    std::atomic<int> &tickerId;

private:
    LaneState();
    std::atomic<int> m_pageId{0};
    std::atomic<int> m_browserId{0};
    std::atomic<int> m_elapsedSeconds{0};
    std::atomic<int> m_tickerId{0};
};

// "job", "job 2" …: a thread name that lives as long as the process.
const char *laneThreadName(const char *base, int laneNumber);
