#include "upload/elapsed_ticker.h"

#include "accounts/account_table.h"
#include "base/diagnostic_log.h"
#include "browser/browser_library.h"
#include "upload/job_state.h"

#include <QHash>

#include <mutex>
#include <vector>

namespace {
std::mutex g_registryMutex;
QHash<int, std::weak_ptr<ElapsedTicker>> g_registry;
std::atomic<int> g_nextId{1};
} // namespace

ElapsedTicker::ElapsedTicker(AccountTable &table, int row, const QString &accountId, LaneState &owner)
    : m_id(g_nextId++)
{
    m_thread = std::thread([this, &table, row, accountId, &owner] { run(table, row, accountId, owner); });
}

ElapsedTicker::~ElapsedTicker()
{
    stop();
    std::lock_guard lock(g_registryMutex);
    g_registry.remove(m_id);
}

std::shared_ptr<ElapsedTicker> ElapsedTicker::start(AccountTable &table, int row, const QString &accountId, LaneState &lane)
{
    auto ticker = std::make_shared<ElapsedTicker>(table, row, accountId, lane);
    lane.tickerId = ticker->id();
    std::lock_guard lock(g_registryMutex);
    g_registry.insert(ticker->id(), ticker);
    return ticker;
}

void ElapsedTicker::haltAll()
{
    // Held past the lock: a lane may let go of its ticker meanwhile, and
    // whoever holds the last reference runs the destructor, which takes the
    // lock itself.
    std::vector<std::shared_ptr<ElapsedTicker>> tickers;
    {
        std::lock_guard lock(g_registryMutex);
        for (const auto &weak : std::as_const(g_registry)) {
            if (auto ticker = weak.lock())
                tickers.push_back(std::move(ticker));
        }
    }
    for (const auto &ticker : tickers)
        ticker->m_token.requestStop();
}

int ElapsedTicker::liveCount()
{
    std::lock_guard lock(g_registryMutex);
    int live = 0;
    for (const auto &weak : std::as_const(g_registry))
        live += weak.expired() ? 0 : 1;
    return live;
}

std::shared_ptr<ElapsedTicker> ElapsedTicker::find(int id)
{
    std::lock_guard lock(g_registryMutex);
    return g_registry.value(id).lock();
}

void ElapsedTicker::stop()
{
    if (m_stopped.exchange(true))
        return;
    m_token.requestStop();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void ElapsedTicker::run(AccountTable &table, int row, const QString &accountId, LaneState &owner)
{
    StopScope scope(m_token);
    diagnostics::setThreadName(laneThreadName("ticker", owner.number));
    try {
        for (;;) {
            const int seconds = ++owner.elapsedSeconds;
            const QString text = QStringLiteral("耗时：%1/%2").arg(seconds).arg(giveUpSeconds.load());
            if (accountId.isEmpty())
                table.setCell(row, AccountTable::Status, text);
            else
                table.setCellOf(accountId, row, AccountTable::Status, text);
            DelayWait(1, 1);
        }
    } catch (const JobStopped &) {
    }
}

bool checkGiveUp(LaneState &state)
{
    checkStop();
    const int limit = giveUpSeconds;
    if (limit == 0 || state.elapsedSeconds <= limit)
        return true;
    const int tickerId = state.tickerId;
    state.elapsedSeconds = 0;
    // By the lane's browser where it is known: a page that crashed has left
    // the lane no page id to close by.
    if (state.browserId > 0)
        BrowserLibrary::instance().form_browser_close(state.browserId);
    else
        BrowserLibrary::instance().form_close_browser(state.pageId);
    if (auto ticker = ElapsedTicker::find(tickerId))
        ticker->stop();
    return false;
}
