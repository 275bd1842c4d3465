#include "app/ini_file.h"

#include "app/log.h"
#include "base/atomic_file.h"
#include "base/gbk.h"

#include <QFile>

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

bool isSectionHeader(const QByteArray &line, QByteArray *name = nullptr)
{
    const QByteArray t = line.trimmed();
    if (!t.startsWith('['))
        return false;
    const int close = t.indexOf(']');
    if (close < 0)
        return false;
    if (name)
        *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Drops a partial double-byte character left at the end by a byte cut.
QByteArray cutGbk(const QByteArray &bytes, int maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    int i = 0;
    while (i < maxBytes) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const int width = (c >= 0x81 && c <= 0xFE) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return bytes.left(i);
}

} // namespace

IniFile IniFile::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            qCWarning(lcApp) << "cannot read" << path << "--" << file.errorString();
        return {};
    }
    if (file.size() > kMaxFileBytes)
        qCWarning(lcApp) << path << "is" << file.size() << "bytes; only its first" << kMaxFileBytes << "are read";
    return fromBytes(file.read(kMaxFileBytes));
}

IniFile IniFile::fromBytes(const QByteArray &bytes)
{
    IniFile ini;
    if (bytes.isEmpty())
        return ini;
    ini.m_lines = bytes.split('\n');
    for (QByteArray &line : ini.m_lines)
        if (line.endsWith('\r'))
            line.chop(1);
    if (!ini.m_lines.isEmpty() && ini.m_lines.last().isEmpty())
        ini.m_lines.removeLast();
    return ini;
}

int IniFile::findSection(const QByteArray &name) const
{
    QByteArray found;
    for (int i = 0; i < m_lines.size(); ++i)
        if (isSectionHeader(m_lines[i], &found) && sameName(found, name))
            return i;
    return -1;
}

int IniFile::sectionEnd(int headerLine) const
{
    int i = headerLine + 1;
    while (i < m_lines.size() && !isSectionHeader(m_lines[i]))
        ++i;
    return i;
}

int IniFile::findKey(int headerLine, const QByteArray &key) const
{
    const int end = sectionEnd(headerLine);
    for (int i = headerLine + 1; i < end; ++i) {
        const QByteArray &line = m_lines[i];
        const int eq = line.indexOf('=');
        if (eq > 0 && sameName(line.left(eq).trimmed(), key))
            return i;
    }
    return -1;
}

QString IniFile::value(const QString &section, const QString &key, int maxBytes) const
{
    const int header = findSection(gbk::encode(section));
    if (header < 0)
        return {};
    const int line = findKey(header, gbk::encode(key));
    if (line < 0)
        return {};
    const QByteArray &text = m_lines[line];
    QByteArray v = text.mid(text.indexOf('=') + 1).trimmed();
    if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
        v = v.mid(1, v.size() - 2);
    return gbk::decode(cutGbk(v, maxBytes));
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sectionBytes = gbk::encode(section);
    const QByteArray keyBytes = gbk::encode(key);
    QByteArray valueBytes = gbk::encode(value);
    // A line break inside a value would split it into lines of its own.
    valueBytes.replace('\r', ' ').replace('\n', ' ');
    const QByteArray line = keyBytes + '=' + valueBytes;

    int header = findSection(sectionBytes);
    if (header < 0) {
        m_lines.append('[' + sectionBytes + ']');
        m_lines.append(line);
        return;
    }
    const int existing = findKey(header, keyBytes);
    if (existing >= 0) {
        m_lines[existing] = line;
        return;
    }
    int insertAt = sectionEnd(header);
    while (insertAt > header + 1 && m_lines[insertAt - 1].trimmed().isEmpty())
        --insertAt;
    m_lines.insert(insertAt, line);
}

bool IniFile::removeValue(const QString &section, const QString &key)
{
    const int header = findSection(gbk::encode(section));
    const int line = header < 0 ? -1 : findKey(header, gbk::encode(key));
    if (line < 0)
        return false;
    m_lines.removeAt(line);
    return true;
}

QByteArray IniFile::toBytes() const
{
    QByteArray out;
    for (const QByteArray &line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

bool IniFile::save(const QString &path) const
{
    return writeFileAtomic(path, toBytes());
}
