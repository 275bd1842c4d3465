#pragma once

#include <atomic>

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
