#pragma once

#include <QDateTime>
#include <QString>

// The dated diagnostic log under data/: one GBK file per day, newest line first.
namespace runlog {

// "2021年5月15日"
QString dateText(const QDate &date);
// The date text followed by the shortest time form: "10时5分3秒", "10时5分", "10时" or nothing.
QString dateTimeText(const QDateTime &moment);
// data/运行日志<date text>.txt under the run directory.
QString runLogPath(const QDate &date);

// Inserts "<stamp>   <text>\r\n" at the front of today's file. A missing
// data folder or an unwritable file loses the line quietly.
void appendRunLog(const QString &text, const QString &category = {}, bool noFile = false);

} // namespace runlog
