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
    QString result; // published, draft, failed, no video, not logged in, held, set aside
    QString reason;
    double seconds = 0;
    double waitSeconds = 0;
};

namespace runreport {

QString reportPath(const QDate &date);
// Appends the line (the header first in a new file); false, logged, when it could not.
bool append(const AttemptRecord &record);
// A CSV field: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString &text);

} // namespace runreport
