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

// The build and source folders this test binary was configured with.
QString buildDir()
{
    return QStringLiteral(TOLVAR_TEST_BUILD_DIR);
}

QString sourceDir()
{
    return QStringLiteral(TOLVAR_TEST_SOURCE_DIR);
}

} // namespace testsupport
