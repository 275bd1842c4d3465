#include "upload/job_state.h"

std::atomic<int> currentPageId{0};
std::atomic<int> currentBrowserId{0};
std::atomic<int> elapsedSeconds{0};
std::atomic<int> giveUpSeconds{0};
std::atomic<int> currentTickerId{0};
