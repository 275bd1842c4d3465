#include "tests/support/test_support.h"

#include "base/run_directory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempRunDir::TempRunDir()
{
    rundir::set(m_dir.path());
}

QString TempRunDir::file(const QString &relative) const
{
    return joinNativePath(m_dir.path(), relative);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

// The build and source folders are compiled in; the environment may point
// the tests at another build (for example a sanitizer build's tools).
QString buildDir()
{
    const QString fromEnv = qEnvironmentVariable("TOLVAR_BUILD_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(TOLVAR_TEST_BUILD_DIR) : fromEnv;
}

QString sourceDir()
{
    const QString fromEnv = qEnvironmentVariable("TOLVAR_SOURCE_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(TOLVAR_TEST_SOURCE_DIR) : fromEnv;
}

} // namespace testsupport
