#include "tests/support/test_support.h"

#include "base/run_directory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

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
    // Whole or not at all: a test may rewrite a settings file while a lane
    // of the running job reads it.
    QSaveFile whole(path);
    if (whole.open(QIODevice::WriteOnly) && whole.write(bytes) == bytes.size() && whole.commit())
        return true;
    // A save file cannot replace what Windows takes for a link (a .lnk the
    // desktop tests write): such a file is written in place.
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

namespace {

bool runFfmpeg(const QString &path, const QStringList &arguments, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-loglevel", "error", "-y"} + arguments + QStringList{path});
    const bool ok = ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
    if (!ok && error)
        *error = ffmpeg.errorString() + u' ' + QString::fromLocal8Bit(ffmpeg.readAllStandardError());
    return ok;
}

} // namespace

bool makeClip(const QString &path, const QString &tag, QString *error, int seconds)
{
    QStringList args{"-f", "lavfi", "-i", QStringLiteral("testsrc=duration=%1:size=96x64:rate=5").arg(seconds), "-pix_fmt", "yuv420p"};
    if (!tag.isEmpty())
        args << "-metadata" << QStringLiteral("comment=") + tag;
    return runFfmpeg(path, args + QStringList{"-f", "mp4"}, error);
}

bool makePicture(const QString &path, QString *error)
{
    return runFfmpeg(path, {"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1"}, error);
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
