#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A profile (INI) file read and written the way the Windows profile
// functions do: GBK text, CR LF, "key=value" lines, section and key names
// compared without regard to case, surrounding blanks and one pair of
// enclosing double quotes dropped from read values. Lines this class does
// not change are written back byte for byte.
class IniFile final {
public:
    // A missing or unreadable file gives an empty document.
    static IniFile load(const QString &path);
    static IniFile fromBytes(const QByteArray &bytes);

    // The value, or empty when the section or key is missing; cut to
    // `maxBytes` GBK bytes (never in the middle of a character).
    QString value(const QString &section, const QString &key, int maxBytes = 10239) const;
    // Overwrites the key where it stands or adds it at the end of its
    // section; a new section goes at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);
    // Drops the key's line; false when there was none.
    bool removeValue(const QString &section, const QString &key);

    QByteArray toBytes() const;
    // Replaces the file atomically.
    bool save(const QString &path) const;

private:
    int findSection(const QByteArray &name) const;
    int sectionEnd(int headerLine) const;
    int findKey(int headerLine, const QByteArray &key) const;

    QList<QByteArray> m_lines;
};
