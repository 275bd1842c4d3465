#include "base/service_config.h"

#include "base/run_directory.h"

#include <QProcess>
#include <QSettings>

#include <mutex>

QString ServiceConfig::path()
{
    return rundir::join(u"data/services.ini");
}

ServiceConfig ServiceConfig::load()
{
    // One reader at a time: lanes read this file at once, and QSettings
    // shares its parsed copy of a file between threads behind a lock inside
    // Qt, which the thread checker of the test build cannot see.
    static std::mutex readers;
    std::lock_guard lock(readers);
    ServiceConfig c;
    QSettings ini(path(), QSettings::IniFormat);
    auto text = [&ini](const char *key, const QString &fallback) {
        const QString v = ini.value(QString::fromLatin1(key)).toString().trimmed();
        return v.isEmpty() ? fallback : v;
    };
    c.studioOrigin = text("studio/origin", c.studioOrigin);
    while (c.studioOrigin.endsWith(u'/'))
        c.studioOrigin.chop(1);
    const QString headless = ini.value(QStringLiteral("browser/headless")).toString().trimmed().toLower();
    c.browserHeadless = headless == u"1" || headless == u"true" || headless == u"yes";
    c.browserExtraArgs = QProcess::splitCommand(ini.value(QStringLiteral("browser/extra_args")).toString());
    c.updateRootA = text("update/a", c.updateRootA);
    c.updateRootB = text("update/b", c.updateRootB);
    c.updateRootC = text("update/c", c.updateRootC);
    // Paths on the update servers are appended to their roots.
    for (QString *root : {&c.updateRootA, &c.updateRootB, &c.updateRootC}) {
        if (!root->endsWith(u'/'))
            root->append(u'/');
    }
    c.quoteUrl = text("quote/url", c.quoteUrl);
    c.notifyHost = text("notify/host", c.notifyHost);
    c.notifyTarget = text("notify/target", c.notifyTarget);
    // A number that does not read as one keeps the default.
    auto number = [&ini](const char *key, int fallback) {
        bool ok = false;
        const int v = ini.value(QString::fromLatin1(key)).toString().trimmed().toInt(&ok);
        return ok && v >= 0 ? v : fallback;
    };
    c.lanesMinFreeMb = number("lanes/min_free_mb", c.lanesMinFreeMb);
    c.lanesSameFailureStop = number("lanes/same_failure_stop", c.lanesSameFailureStop);
    // A password or a path may hold a comma, which the INI reader takes for a list.
    auto whole = [&ini](const char *key) {
        const QVariant v = ini.value(QString::fromLatin1(key));
        return (v.typeId() == QMetaType::QStringList ? v.toStringList().join(u',') : v.toString()).trimmed();
    };
    c.gridUrl = whole("grid/url");
    while (c.gridUrl.endsWith(u'/'))
        c.gridUrl.chop(1);
    c.gridUser = whole("grid/user");
    c.gridPassword = whole("grid/password");
    c.gridProfileRoot = whole("grid/profile_root");
    c.gridVideoRoot = whole("grid/video_root");
    c.gridNodeVideoRoot = whole("grid/node_video_root");
    c.gridExtraArgs = QProcess::splitCommand(whole("grid/extra_args"));
    c.gridNewSessionSeconds = qMax(1, number("grid/new_session_s", c.gridNewSessionSeconds));
    c.alertWebhook = whole("alert/webhook");
    c.alertFormat = text("alert/format", c.alertFormat).toLower();
    c.alertSecret = whole("alert/secret");
    return c;
}
