#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

// Readable QString values in assertion messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace testsupport {

// A fresh run directory for one test, set as the program's run directory.
class TempRunDir final {
public:
    TempRunDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const;

private:
    QTemporaryDir m_dir;
};

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

// A small real MP4 clip (96 x 64, one second unless told) made by ffmpeg at `path`, its
// folders made as needed; `tag` goes into the clip's metadata, so clips with
// different tags differ in content. False when ffmpeg failed, with its
// message in `error`.
bool makeClip(const QString &path, const QString &tag = {}, QString *error = nullptr, int seconds = 1);
// A small picture (64 x 48) in the format the file name says.
bool makePicture(const QString &path, QString *error = nullptr);

// Paths of the build and source trees (set by CTest for every test).
QString buildDir();
QString sourceDir();

} // namespace testsupport
