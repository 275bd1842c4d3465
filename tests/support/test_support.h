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

// Paths of the build and source trees (set by CTest for every test).
QString buildDir();
QString sourceDir();

} // namespace testsupport
