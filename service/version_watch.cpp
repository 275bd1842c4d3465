#include "service/version_watch.h"

#include "base/diagnostic_log.h"
#include "service/service_view.h"
#include "service/studio_delivery.h"
#include "service/update_check.h"
#include "service/url_reader.h"

VersionWatch::VersionWatch(ServiceView &view, const ServiceConfig &config)
    : m_view(view)
    , m_rootA(config.updateRootA)
{
}

VersionWatch::~VersionWatch()
{
    stop();
}

void VersionWatch::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] {
            diagnostics::setThreadName("version");
            watchLatestVersion();
        });
}

void VersionWatch::stop()
{
    m_stop.requestStop();
    if (m_thread.joinable())
        m_thread.join();
}

QString VersionWatch::latestVersionText() const
{
    const QString folder = m_rootA + service::APP_PATH_SEGMENT + u'/';
    const service::JsonFields info = service::readJsonFromUrl(folder + QStringLiteral("index.json"));
    // A newer studio description is taken from the next video on.
    service::takeOfferedStudioDescription(info, folder);
    return QStringLiteral("当前：") + service::LOCAL_VERSION + QStringLiteral("   最新版：") + info.value(QStringLiteral("版本"));
}

void VersionWatch::watchLatestVersion()
{
    while (!m_stop.waitFor(6000)) {
        m_view.setMainStatus(3, latestVersionText());
        if (m_stop.waitFor(60000))
            return;
    }
}
