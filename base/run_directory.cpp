#include "base/run_directory.h"

#include <QCoreApplication>
#include <QDir>

#include <mutex>

namespace rundir {

namespace {
std::mutex g_mutex;
QString g_path;

QString stripTrailingSeparator(QString p)
{
    while (p.size() > 1 && (p.endsWith(u'/') || p.endsWith(u'\\')) && !p.endsWith(u":\\") && !p.endsWith(u":/"))
        p.chop(1);
    return p;
}
} // namespace

QString path()
{
    std::lock_guard lock(g_mutex);
    if (g_path.isEmpty()) {
        const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
        g_path = QDir::toNativeSeparators(stripTrailingSeparator(QDir(exeDir).absolutePath()));
    }
    return g_path;
}

void set(const QString &directory)
{
    std::lock_guard lock(g_mutex);
    g_path = QDir::toNativeSeparators(stripTrailingSeparator(QDir(directory).absolutePath()));
}

QString join(QStringView relative)
{
    return joinNativePath(path(), relative);
}

} // namespace rundir

QString joinNativePath(QStringView directory, QStringView relative)
{
    QString rel = relative.toString();
    rel.replace(u'\\', u'/');
    while (rel.startsWith(u'/'))
        rel.remove(0, 1);
    QString dir = directory.toString();
    dir.replace(u'\\', u'/');
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return QDir::toNativeSeparators(dir + rel);
}
