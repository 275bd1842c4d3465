#include "upload/job_state.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

std::atomic<int> currentPageId{0};
std::atomic<int> currentBrowserId{0};
std::atomic<int> elapsedSeconds{0};
std::atomic<int> giveUpSeconds{0};
std::atomic<int> currentTickerId{0};

namespace {

std::mutex g_lanesMutex;
std::vector<LaneState *> g_lanes;

} // namespace

LaneState::LaneState()
    : number(1)
    , pageId(currentPageId)
    , browserId(currentBrowserId)
    , elapsedSeconds(::elapsedSeconds)
    , tickerId(currentTickerId)
{
}

LaneState::LaneState(int laneNumber)
    : number(laneNumber)
    , pageId(m_pageId)
    , browserId(m_browserId)
    , elapsedSeconds(m_elapsedSeconds)
    , tickerId(m_tickerId)
{
    std::lock_guard lock(g_lanesMutex);
    g_lanes.push_back(this);
}

LaneState::~LaneState()
{
    std::lock_guard lock(g_lanesMutex);
    std::erase(g_lanes, this);
}

LaneState &LaneState::first()
{
    static LaneState lane;
    return lane;
}

void LaneState::forEach(const std::function<void(LaneState &)> &visit)
{
    visit(first());
    std::lock_guard lock(g_lanesMutex);
    for (LaneState *state : g_lanes)
        visit(*state);
}

const char *laneThreadName(const char *base, int laneNumber)
{
    if (laneNumber <= 1)
        return base;
    static std::mutex mutex;
    static std::set<std::string> names;
    std::lock_guard lock(mutex);
    return names.insert(std::string(base) + ' ' + std::to_string(laneNumber)).first->c_str();
}
