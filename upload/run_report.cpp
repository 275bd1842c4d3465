#include "upload/run_report.h"

#include "base/run_directory.h"
#include "upload/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <mutex>

namespace runreport {

namespace {

std::mutex g_mutex;
// Guarded by g_mutex.
QHash<QString, QDateTime> g_lastNoVideo; // by account id
QString g_prunedFolder;
QDate g_prunedOn;

// A looping run over empty folders would write a line a minute per account.
bool isThrottledLocked(const AttemptRecord &r)
{
    if (r.result != QLatin1String("no video"))
        return false;
    const auto last = g_lastNoVideo.constFind(r.accountId);
    if (last == g_lastNoVideo.cend())
        return false;
    const qint64 since = last->secsTo(r.time);
    // A clock set back starts the hour afresh.
    return since >= 0 && since < kNoVideoEverySeconds;
}

// Reports go by their date, counted back from the line being written; but
// a clock that jumped ahead (a year, a dead battery's date) must not take
// every real report with it: the count starts no later than the newest
// other report was last written.
void removeOldReportsLocked(const QString &folder, const QString &writing, const QDate &today)
{
    if (!today.isValid() || (folder == g_prunedFolder && today == g_prunedOn))
        return;
    g_prunedFolder = folder;
    g_prunedOn = today;
    static const QRegularExpression kReportName(QStringLiteral("^report-(\\d{4}-\\d{2}-\\d{2})\\.csv$"));
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("report-*.csv")}, QDir::Files);
    QDate newest;
    for (const QFileInfo &file : files) {
        const QDate written = file.lastModified().date();
        if (file.absoluteFilePath() != writing && written.isValid() && (!newest.isValid() || written > newest))
            newest = written;
    }
    const QDate reference = newest.isValid() && newest < today ? newest : today;
    if (reference != today)
        qCInfo(lcUpload) << "old run reports counted from" << reference << "when the newest report was written, not from" << today;
    const QDate oldest = reference.addDays(-kKeepDays);
    for (const QFileInfo &file : files) {
        const QRegularExpressionMatch match = kReportName.match(file.fileName());
        const QDate date = match.hasMatch() ? QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd")) : QDate();
        if (!date.isValid() || date >= oldest || file.absoluteFilePath() == writing)
            continue;
        if (QFile::remove(file.absoluteFilePath()))
            qCInfo(lcUpload) << "removed the run report" << file.absoluteFilePath() << "older than" << kKeepDays << "days";
        else
            qCWarning(lcUpload) << "cannot remove the old run report" << file.absoluteFilePath();
    }
}

} // namespace

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

QString spreadsheetText(const QString &text)
{
    // File names and titles come from users and pages: none of them may run
    // as a formula in the spreadsheet that opens the report.
    static constexpr QStringView kFormulaStarts = u"=+-@\t\r";
    if (!text.isEmpty() && kFormulaStarts.contains(text.front()))
        return u'\'' + text;
    return text;
}

bool append(const AttemptRecord &r)
{
    std::lock_guard lock(g_mutex);
    if (isThrottledLocked(r))
        return true;
    const QString path = reportPath(r.time.date());
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    removeOldReportsLocked(folder, QFileInfo(path).absoluteFilePath(), r.time.date());
    QFile file(path);
    const bool fresh = !file.exists() || file.size() == 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcUpload) << "cannot write the run report" << path << "--" << file.errorString();
        return false;
    }
    QByteArray out;
    if (fresh)
        out = "\xEF\xBB\xBF" "time,account number,account id,nickname,video file,title,result,reason,seconds,wait seconds\r\n";
    const QStringList fields = {r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                QString::number(r.accountNumber),
                                spreadsheetText(r.accountId),
                                spreadsheetText(r.nickname),
                                spreadsheetText(r.video),
                                spreadsheetText(r.title),
                                spreadsheetText(r.result),
                                spreadsheetText(r.reason),
                                QString::number(r.seconds, 'f', 2),
                                QString::number(r.waitSeconds, 'f', 2)};
    QStringList quoted;
    for (const QString &f : fields)
        quoted << csvField(f);
    out += quoted.join(u',').toUtf8() + "\r\n";
    if (file.write(out) != out.size() || !file.flush()) {
        qCWarning(lcUpload) << "a line of the run report" << path << "was not written --" << file.errorString();
        return false;
    }
    if (r.result == QLatin1String("no video"))
        g_lastNoVideo.insert(r.accountId, r.time);
    return true;
}

} // namespace runreport
