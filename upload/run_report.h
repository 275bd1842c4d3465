#pragma once

#include <QDateTime>
#include <QString>

// One line per attempt at a video in a dated CSV under logs/
// (logs/report-2026-12-09.csv): UTF-8 with a byte-order mark, so that a
// spreadsheet on Windows opens it as such.
struct AttemptRecord {
    QDateTime time;
    int accountNumber = 0;
    QString accountId;
    QString nickname;
    QString video;
    QString title;
    // published, draft, failed, no video, not logged in, held, set aside,
    // already published (the reason gives the date of the earlier publish)
    QString result;
    QString reason;
    double seconds = 0;
    double waitSeconds = 0;
};

namespace runreport {

// Reports older than this many days are removed.
constexpr int kKeepDays = 90;
// An account's "no video" lines, at most one in this many seconds.
constexpr qint64 kNoVideoEverySeconds = 3600;

QString reportPath(const QDate &date);
// Appends the line (the header first in a new file); false, logged, when it
// could not. A "no video" line within the hour after the last one of the
// same account is left out (true). The first line of each day also removes
// the reports past kKeepDays.
bool append(const AttemptRecord &record);
// A CSV field: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString &text);
// A text a spreadsheet would take for a formula (its first character one of
// = + - @, a tab or a CR) with an apostrophe before it, so that it shows as
// text.
QString spreadsheetText(const QString &text);

} // namespace runreport
