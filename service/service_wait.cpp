#include "service/service_wait.h"

#include "base/time_scale.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>

void ServiceStop::requestStop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

bool ServiceStop::stopRequested() const
{
    const std::lock_guard lock(m_mutex);
    return m_stopped;
}

bool ServiceStop::waitFor(qint64 milliseconds) const
{
    std::unique_lock lock(m_mutex);
    const auto span = std::chrono::milliseconds(timescale::scaled(milliseconds));
    return m_changed.wait_for(lock, span, [this] { return m_stopped; });
}

namespace service {

void pauseKeepingEvents(qint64 milliseconds)
{
    const qint64 ms = timescale::scaled(milliseconds);
    auto *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(ms), &loop, &QEventLoop::quit);
        loop.exec();
        return;
    }
    QThread::msleep(static_cast<unsigned long>(ms));
}

} // namespace service
