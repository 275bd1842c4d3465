#include "upload/delay_wait.h"

#include "base/time_scale.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <thread>

namespace {
thread_local const StopToken *t_token = nullptr;
thread_local qint64 t_waited = 0;

bool onUiThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

constexpr qint64 kMaxWaitMs = 24LL * 3600 * 1000 * 365;
} // namespace

StopToken::StopToken()
    : m_state(std::make_shared<State>())
{
}

void StopToken::requestStop()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopped = true;
    }
    m_state->changed.notify_all();
}

bool StopToken::stopRequested() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->stopped.load();
}

bool StopToken::waitFor(qint64 ms) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(ms, 0)), [this] { return m_state->stopped.load(); });
}

StopScope::StopScope(const StopToken &token)
    : m_previous(t_token)
{
    t_token = &token;
}

StopScope::~StopScope()
{
    t_token = m_previous;
}

bool DelayWait(int amount, qint64 unit)
{
    qint64 multiplier = unit;
    switch (unit) {
    case 0: multiplier = 1; break;
    case 1: multiplier = 1000; break;
    case 2: multiplier = 60000; break;
    case 3: multiplier = 3600000; break;
    default: break;
    }
    const double ms = std::clamp(static_cast<double>(amount) * static_cast<double>(multiplier), 0.0, static_cast<double>(kMaxWaitMs));
    return delayWaitMs(static_cast<qint64>(std::llround(ms)));
}

bool delayWaitMs(qint64 milliseconds)
{
    const qint64 ms = timescale::scaled(milliseconds);
    t_waited += ms;
    if (t_token) {
        if (t_token->waitFor(ms))
            throw JobStopped{};
        return true;
    }
    if (onUiThread()) {
        if (ms <= 0) {
            QCoreApplication::processEvents();
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
}

qint64 waitedOnThisThread()
{
    return t_waited;
}

bool stopRequestedHere()
{
    return t_token && t_token->stopRequested();
}

void checkStop()
{
    if (t_token && t_token->stopRequested())
        throw JobStopped{};
}

void processPendingEvents()
{
    checkStop();
    if (onUiThread())
        QCoreApplication::processEvents();
}
