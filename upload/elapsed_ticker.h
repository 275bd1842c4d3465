#pragma once

#include "upload/delay_wait.h"
#include "upload/job_state.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class AccountTable;

// Counts the seconds of the current video once a second and shows
// "耗时：<n>/<limit>" in the status cell of the row being worked on.
class ElapsedTicker final {
public:
    // Shows the count in the status cell of `row` (of the account `accountId`
    // wherever its row is now, when given), counting the seconds of `lane`.
    ElapsedTicker(AccountTable &table, int row, const QString &accountId = {}, LaneState &lane = LaneState::first());
    ~ElapsedTicker();

    // Its handle for the job context.
    int id() const { return m_id; }
    // Ends the ticker; a second call has no effect.
    void stop();

    // The running ticker whose handle is `id` (null when none).
    static std::shared_ptr<ElapsedTicker> find(int id);
    static std::shared_ptr<ElapsedTicker> start(AccountTable &table, int row, const QString &accountId = {}, LaneState &lane = LaneState::first());
    // Stop pressed: every ticker stops counting at once (without waiting for
    // its thread; the job ends each one as it unwinds).
    static void haltAll();
    // Tickers whose thread has not ended yet.
    static int liveCount();

private:
    void run(AccountTable &table, int row, const QString &accountId, LaneState &lane);

    int m_id = 0;
    StopToken m_token;
    std::thread m_thread;
    std::atomic<bool> m_stopped{false};
};

// True = go on; false = the lane's video passed the limit: its page is
// closed, its ticker ended, and the video abandoned.
bool checkGiveUp(LaneState &lane = LaneState::first());
