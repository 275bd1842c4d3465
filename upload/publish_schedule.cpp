#include "upload/publish_schedule.h"

#include <QRegularExpression>

#include <algorithm>

namespace publishschedule {

std::optional<QList<QTime>> parseTimes(const QString &text, QString *why)
{
    static const QRegularExpression separators(QStringLiteral("[,，;；\\s]+"));
    static const QRegularExpression hhmm(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    QList<QTime> times;
    for (const QString &piece : text.split(separators, Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = hhmm.match(piece);
        const QTime t = m.hasMatch() ? QTime(m.captured(1).toInt(), m.captured(2).toInt()) : QTime();
        if (!t.isValid()) {
            *why = QStringLiteral("\"%1\" is no time of day (HH:MM)").arg(piece);
            return std::nullopt;
        }
        if (!times.contains(t))
            times.append(t);
    }
    if (times.isEmpty()) {
        *why = QStringLiteral("no time is listed");
        return std::nullopt;
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::optional<QDateTime> nextTime(const QList<QTime> &times, const QDateTime &last, const QDateTime &now, int minLeadMinutes, int maxDays)
{
    const QDateTime earliest = now.addSecs(qint64(minLeadMinutes) * 60);
    const QDateTime latest = now.addDays(maxDays);
    for (QDate day = now.date(); day <= latest.date(); day = day.addDays(1)) {
        for (const QTime &t : times) {
            const QDateTime candidate(day, t);
            if (candidate < earliest || (last.isValid() && candidate <= last))
                continue;
            if (candidate > latest)
                return std::nullopt;
            return candidate;
        }
    }
    return std::nullopt;
}

QString journalText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
}

QDateTime fromJournalText(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm"));
}

} // namespace publishschedule
