#pragma once

#include <QString>
#include <QtGlobal>

// The program's diagnostic log: every Qt message (each folder logs through
// its own category, tolvar.browser, tolvar.upload ...) becomes one UTF-8
// line in logs/tolvar.log under the run directory:
//
//   2026-12-09 07:50:01.123 W tolvar.browser [job] DevTools call Page.navigate failed: time-out
//
// time, level (D I W C F), category, thread, message. At 5 MB the file is
// rolled over (tolvar.log.1, tolvar.log.2; three files in all). Users never
// see these lines; the run log is a separate file.
namespace diagnostics {

struct Options {
    // Also to standard error, and debug messages of the tolvar categories too.
    bool verbose = false;
    qint64 rollBytes = 5 * 1024 * 1024;
    int files = 3;
    // Every message also goes on to the handler that was there before
    // (the tests' own checks).
    bool forward = false;
};

// Takes over Qt's message handler; call once the run directory is known.
void install(const Options &options = {});
// Gives the handler back and closes the file.
void uninstall();

// logs/tolvar.log under the run directory.
QString logPath();

// Names the calling thread in the log lines ("job", "ticker" ...); the
// user-interface thread is "main", others are their numeric id.
void setThreadName(const char *name);

// One line as it is written, without the line end.
QString formatLine(QtMsgType type, const char *category, const QString &message);

} // namespace diagnostics
