#include "service/announcement.h"

#include "base/diagnostic_log.h"
#include "service/service_view.h"
#include "service/url_reader.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

Announcement::Announcement(ServiceView &view, const ServiceConfig &config)
    : m_view(view)
    , m_rootA(config.updateRootA)
{
}

Announcement::~Announcement()
{
    wait();
}

void Announcement::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] {
            diagnostics::setThreadName("announcement");
            showAnnouncement();
        });
}

void Announcement::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void Announcement::showAnnouncement()
{
    const service::JsonFields doc = service::readJsonFromUrl(m_rootA + QStringLiteral("gonggao.json"));
    m_view.setStartStatus(2, doc.value(QStringLiteral("all")));
    QElapsedTimer tick;
    tick.start();
    QRandomGenerator random(static_cast<quint32>(tick.msecsSinceReference()));
    const int n = static_cast<int>(random.bounded(1, kPictureCount + 1));
    const QByteArray picture = service::readUrlBytes(m_rootA + QStringLiteral("tool/ad") + QString::number(n) + QStringLiteral(".gif"));
    m_view.setAdPicture(picture, doc.value(QStringLiteral("ad1url")));
}
