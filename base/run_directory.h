#pragma once

#include <QString>
#include <QStringView>

// The run directory holds every data file of the program: by default the
// executable's folder, or the folder given with --run-dir.
namespace rundir {

// Absolute path without a trailing separator, in the system's own form.
QString path();
void set(const QString &directory);

// The run directory joined with a relative path written with '/' or '\'
// ("data/setsoft.ini"), in native separators.
QString join(QStringView relative);

} // namespace rundir

// Joins a directory and a relative path with the system's separator.
QString joinNativePath(QStringView directory, QStringView relative);
