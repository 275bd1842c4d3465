#include "upload/run_report.h"

#include "base/run_directory.h"
#include "upload/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace runreport {

namespace {
QMutex g_mutex;
}

QString reportPath(const QDate &date)
{
    return rundir::join(QStringLiteral("logs/report-") + date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv"));
}

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

bool append(const AttemptRecord &r)
{
    QMutexLocker lock(&g_mutex);
    const QString path = reportPath(r.time.date());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const bool fresh = !file.exists() || file.size() == 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcUpload) << "cannot write the run report" << path << "--" << file.errorString();
        return false;
    }
    QByteArray out;
    if (fresh)
        out = "\xEF\xBB\xBF" "time,account number,account id,nickname,video file,title,result,reason,seconds,wait seconds\r\n";
    const QStringList fields = {r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QString::number(r.accountNumber), r.accountId, r.nickname,
                                r.video, r.title, r.result, r.reason, QString::number(r.seconds, 'f', 2), QString::number(r.waitSeconds, 'f', 2)};
    QStringList quoted;
    for (const QString &f : fields)
        quoted << csvField(f);
    out += quoted.join(u',').toUtf8() + "\r\n";
    if (file.write(out) != out.size()) {
        qCWarning(lcUpload) << "a line of the run report" << path << "was not written --" << file.errorString();
        return false;
    }
    return true;
}

} // namespace runreport
