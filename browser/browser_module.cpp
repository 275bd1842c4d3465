#include "browser/browser_module.h"

#include "base/gbk.h"
#include "base/run_directory.h"
#include "browser/module_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace browsermodule {

void initBrowserModule()
{
    if (!hasAdministratorRights())
        appendErrorLog(administratorNote(QCoreApplication::applicationPid(), QDateTime::currentDateTime()));
}

bool hasAdministratorRights()
{
    return moduleplatform::isElevated();
}

QByteArray administratorNote(qint64 processId, const QDateTime &when)
{
    return gbk::encode(QStringLiteral("  进程ID：") + QString::number(processId) + QStringLiteral("\r\n") + QStringLiteral("运行时间：")
                       + formatDateTime(when) + QStringLiteral("\r\n")
                       + QStringLiteral("程序未以管理员权限运行，可能会导致部分功能失效，请留意."));
}

void appendErrorLog(QByteArrayView text)
{
    const QString folder = rundir::join(u"logs");
    if (!QDir().mkpath(folder))
        return;
    QFile file(rundir::join(u"logs/error.log"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(text.data(), text.size());
}

QString formatDateTime(const QDateTime &when, const QString &format)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    QString out = format.isEmpty() ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : format;
    out.replace(QStringLiteral("yyyy"), QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')));
    out.replace(QStringLiteral("MM"), two(date.month()));
    out.replace(QStringLiteral("dd"), two(date.day()));
    out.replace(QStringLiteral("HH"), two(time.hour()));
    out.replace(QStringLiteral("mm"), two(time.minute()));
    out.replace(QStringLiteral("ss"), two(time.second()));
    return out;
}

void forceExitProcess()
{
    moduleplatform::terminateSelf();
}

} // namespace browsermodule
