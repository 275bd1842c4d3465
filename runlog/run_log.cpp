#include "runlog/run_log.h"

#include "base/gbk.h"
#include "base/run_directory.h"
#include "runlog/log.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace runlog {

namespace {
// Serialises the open-insert-close sequence so that two threads lose no line.
QMutex g_fileMutex;
constexpr qint64 kBlock = 4096;

// Moves the whole content forward by `shift` bytes, from the end towards the
// front in blocks, so the file is never read into memory at once.
bool shiftContent(QFile &file, qint64 shift)
{
    const qint64 size = file.size();
    QByteArray block;
    qint64 end = size;
    while (end > 0) {
        const qint64 start = std::max<qint64>(0, end - kBlock);
        const qint64 length = end - start;
        if (!file.seek(start))
            return false;
        block = file.read(length);
        if (block.size() != length || !file.seek(start + shift) || file.write(block) != length)
            return false;
        end = start;
    }
    return true;
}
} // namespace

QString dateText(const QDate &date)
{
    return QStringLiteral("%1年%2月%3日").arg(date.year()).arg(date.month()).arg(date.day());
}

QString dateTimeText(const QDateTime &moment)
{
    const QTime t = moment.time();
    QString text = dateText(moment.date());
    if (t.second() != 0)
        text += QStringLiteral("%1时%2分%3秒").arg(t.hour()).arg(t.minute()).arg(t.second());
    else if (t.minute() != 0)
        text += QStringLiteral("%1时%2分").arg(t.hour()).arg(t.minute());
    else if (t.hour() != 0)
        text += QStringLiteral("%1时").arg(t.hour());
    return text;
}

QString runLogPath(const QDate &date)
{
    return rundir::join(QStringLiteral("data/运行日志") + dateText(date) + QStringLiteral(".txt"));
}

void appendRunLog(const QString &text, const QString &category, bool noFile)
{
    Q_UNUSED(category); // every line goes to the one run log
    if (noFile)
        return;
    QMutexLocker lock(&g_fileMutex);
    QFile file(runLogPath(QDateTime::currentDateTime().date()));
    if (!file.open(QIODevice::ReadWrite)) {
        qCWarning(lcRunLog) << "cannot open the run log" << file.fileName() << "--" << file.errorString();
        return;
    }
    // The stamp is taken after opening: at midnight the file's date and the
    // stamp's date may differ by one day, as they always have.
    const QByteArray line = gbk::encode(dateTimeText(QDateTime::currentDateTime()) + QStringLiteral("   ") + text) + "\r\n";
    if (!shiftContent(file, line.size())) {
        qCWarning(lcRunLog) << "the run log" << file.fileName() << "could not make room for a line --" << file.errorString();
        return;
    }
    if (!file.seek(0) || file.write(line) != line.size())
        qCWarning(lcRunLog) << "a line of the run log" << file.fileName() << "was not written --" << file.errorString();
}

} // namespace runlog
