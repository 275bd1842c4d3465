#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

// Start-up services of the browser layer: the error log beside the program,
// date-time text and the forced exit.
namespace browsermodule {

// Run once at process start, before any window: notes in the error log when
// the process lacks administrator rights.
void initBrowserModule();

// Appends the bytes (GBK) unchanged to logs/error.log under the run directory,
// creating the folder; fails silently.
void appendErrorLog(QByteArrayView text);

// The administrator note for a process id and a time, in GBK.
QByteArray administratorNote(qint64 processId, const QDateTime &when);
bool hasAdministratorRights();

// Replaces yyyy, MM, dd, HH, mm and ss (case-sensitive); an empty format
// means "yyyy-MM-dd HH:mm:ss".
QString formatDateTime(const QDateTime &when = QDateTime::currentDateTime(), const QString &format = {});

// Ends the process at once with exit code 0, running no destructors.
[[noreturn]] void forceExitProcess();

} // namespace browsermodule
