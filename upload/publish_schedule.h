#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

#include <optional>

// Scheduled publishing: the day's times an account's videos take in turn.
namespace publishschedule {

// "08:00,12:00,18:00" (commas, Chinese commas, semicolons or spaces between)
// as sorted distinct times; nullopt, with `why`, when a piece is no HH:MM
// time or there is none.
std::optional<QList<QTime>> parseTimes(const QString &text, QString *why);

// The first listed time after `last` (invalid: none yet) that is at least
// `minLeadMinutes` after `now` and at most `maxDays` days after it; nullopt
// when the window holds none.
std::optional<QDateTime> nextTime(const QList<QTime> &times, const QDateTime &last, const QDateTime &now, int minLeadMinutes, int maxDays);

// "2026-12-12T08:00", as the journal keeps it; and back.
QString journalText(const QDateTime &time);
QDateTime fromJournalText(const QString &text);

} // namespace publishschedule
