#pragma once

#include <QString>

// Hands the program's fatal errors to the error report: a C++ exception that
// nobody catches and a fatal Qt message show the notice and send the report
// before the process ends. A crash signal cannot show anything safely; it
// leaves a marker in the data folder that the next start reports.
namespace fatalerror {

// Error codes of the report.
inline constexpr qint32 kUncaughtException = 1;
inline constexpr qint32 kQtFatalMessage = 2;
// A crash is reported with its signal number (exception code on Windows).

// Installs the handlers for the rest of the process; later calls do nothing.
void installFatalErrorHandler();

// data/crash-marker.txt under the run directory.
QString crashMarkerPath();

// Reads and deletes the marker a crash left: true when there was one, with
// its code and the error text of the report.
bool takeCrashMarker(qint32 &code, QString &text);

// Sends the report of a crash in an earlier run on a thread of its own,
// without a notice box (the crash is over). Nothing when there was none.
void reportPreviousCrash();

namespace detail {
// Platform part: writes the marker from the crash handler itself, with only
// calls that are safe there, then lets the crash take its course. No marker
// once markReported() was called (the abort that follows a sent report).
void installCrashMarker(const QString &markerPath);
void markReported();
} // namespace detail

} // namespace fatalerror
