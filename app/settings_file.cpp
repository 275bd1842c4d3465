#include "app/settings_file.h"

#include "app/ini_file.h"
#include "app/log.h"
#include "base/gbk.h"
#include "base/run_directory.h"
#include "form/form.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <optional>
#include <utility>

namespace settings {

namespace {
const QString kEditSection = QStringLiteral("编辑框");
const QString kRadioSection = QStringLiteral("单选框");
const QString kComboSection = QStringLiteral("组合框");
const QString kBreak = QStringLiteral("><br><");
const QString kQuote = QStringLiteral("#引号");
const QString kTrue = QStringLiteral("真");
const QString kFalse = QStringLiteral("假");
const QString kStatusBar = QStringLiteral("状态条1");
constexpr int kMessagePart = 1;
// The title library may be far longer than one key holds as the Windows
// profile functions read it (a 10240-byte buffer): past that it goes on in
// keys of its own, "编辑框3_续2" and on. Every key stays within the
// buffer, so earlier versions still read the library's first part whole.
const QString kLibrary = QStringLiteral("编辑框3");
constexpr int kKeyBytes = 10239;

QString continuationKey(int number)
{
    return kLibrary + QStringLiteral("_续") + QString::number(number);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The GBK text in pieces of at most `maxBytes`, cut between characters and
// never beside a blank (values are read back trimmed); after a line break
// where the piece has one.
QList<QByteArray> splitForKeys(const QByteArray &bytes, qsizetype maxBytes)
{
    static const QByteArray lineBreak = QByteArrayLiteral("><br><");
    QList<QByteArray> pieces;
    qsizetype start = 0;
    while (bytes.size() - start > maxBytes) {
        qsizetype widest = start;
        qsizetype clean = start;
        qsizetype afterBreak = start;
        for (qsizetype i = start; i < start + maxBytes;) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            const qsizetype width = c >= 0x81 && c <= 0xFE ? 2 : 1;
            if (i + width > start + maxBytes)
                break;
            i += width;
            widest = i;
            if (isBlank(bytes[i - 1]) || isBlank(bytes[i]))
                continue;
            clean = i;
            if (i - start >= lineBreak.size() && QByteArrayView(bytes).sliced(i - lineBreak.size(), lineBreak.size()) == lineBreak)
                afterBreak = i;
        }
        const qsizetype cut = afterBreak > start ? afterBreak : clean > start ? clean : widest;
        pieces.append(bytes.mid(start, cut - start));
        start = cut;
    }
    pieces.append(bytes.mid(start));
    return pieces;
}

// Writes the library's value over as many keys as it needs; keys a longer
// library left behind go.
void setLibraryValue(IniFile &ini, const QString &encoded)
{
    const QList<QByteArray> pieces = splitForKeys(gbk::encode(encoded), kKeyBytes);
    ini.setValue(kEditSection, kLibrary, pieces.size() == 1 ? encoded : gbk::decode(pieces.first()));
    int number = 2;
    for (; number <= pieces.size(); ++number)
        ini.setValue(kEditSection, continuationKey(number), gbk::decode(pieces.at(number - 1)));
    while (ini.removeValue(kEditSection, continuationKey(number)))
        ++number;
}

QString libraryValue(const IniFile &ini)
{
    QString value = ini.value(kEditSection, kLibrary);
    for (int number = 2;; ++number) {
        const QString more = ini.value(kEditSection, continuationKey(number));
        if (more.isEmpty())
            return value;
        value += more;
    }
}

// Edit-box values the GBK file could not hold, already reported: control
// name -> stored value. The file is saved at every close, so a value is
// reported once, not at every save; a control whose value fits again is
// forgotten, and a new value that does not fit is reported afresh.
QMutex g_reportedMutex;
QHash<QString, QString> g_reported;

// Reports, once per control and value, the edit boxes whose stored value
// does not come back from the GBK file as it went in (emoji, Hangul and
// whatever else code page 936 lacks turns into '?').
void reportLostText(Form &form, const QList<std::pair<QString, QString>> &stored)
{
    QStringList fresh;
    {
        const QMutexLocker lock(&g_reportedMutex);
        for (const auto &[name, value] : stored) {
            const QString back = gbk::decode(gbk::encode(value));
            if (back == value) {
                g_reported.remove(name);
                continue;
            }
            if (g_reported.value(name) == value)
                continue;
            g_reported.insert(name, value);
            fresh.append(name);
            qCWarning(lcApp).noquote() << "settings:" << name << "holds characters the GBK settings file cannot hold; saved as" << back;
        }
    }
    if (!fresh.isEmpty() && form.has(kStatusBar))
        form.setPartText(kStatusBar, kMessagePart, fresh.join(u'、') + QStringLiteral(" 含有GBK以外的字符，设置文件无法原样保存"));
}
} // namespace

QString settingsDataPath()
{
    const QString data = rundir::join(u"data");
    if (!QFileInfo(data).isDir())
        QDir().mkpath(data);
    return rundir::join(u"data/setsoft.ini");
}

QString encodeEditValue(const QString &content)
{
    QString v = content;
    v.replace(QStringLiteral("\r\n"), kBreak);
    // Lone line ends would break the line structure of the file.
    v.replace(u'\n', kBreak).replace(u'\r', kBreak);
    v.replace(u'"', kQuote);
    return v;
}

QString decodeEditValue(const QString &stored)
{
    QString v = stored;
    v.replace(kBreak, QStringLiteral("\r\n"));
    v.replace(kQuote, QStringLiteral("\""));
    return v;
}

QString encodeComboValue(const QList<ComboItem> &items, int index, const QString &editText)
{
    QString v;
    for (const ComboItem &item : items)
        v += item.text + QStringLiteral("<|>") + QString::number(item.value) + QStringLiteral("<||>");
    v += QString::number(index) + QStringLiteral("<|>") + editText;
    v.replace(u'"', kQuote);
    return v;
}

// The format encodeComboValue writes; nullopt for what it never wrote.
std::optional<std::pair<QList<ComboItem>, int>> decodeComboValue(const QString &stored)
{
    QString v = stored;
    v.replace(kQuote, QStringLiteral("\""));
    QStringList parts = v.split(QStringLiteral("<||>"));
    const QString last = parts.takeLast();
    const qsizetype at = last.indexOf(QStringLiteral("<|>"));
    bool indexOk = false;
    const int index = at < 0 ? -1 : last.left(at).toInt(&indexOk);
    if (!indexOk)
        return std::nullopt;
    QList<ComboItem> items;
    for (const QString &part : parts) {
        const qsizetype split = part.lastIndexOf(QStringLiteral("<|>"));
        bool valueOk = false;
        const qint64 value = split < 0 ? 0 : part.mid(split + 3).toLongLong(&valueOk);
        if (!valueOk)
            return std::nullopt;
        items.append({part.left(split), value});
    }
    return std::pair{items, index >= -1 && index < items.size() ? index : -1};
}

bool saveSettings(Form &form, const QString &path, const QString &excluded)
{
    const QString file = path.isEmpty() ? settingsDataPath() : path;
    QStringList skip = excluded.split(u'|', Qt::SkipEmptyParts);
    // An account's proxy (maybe with its password) lives in the account's file only.
    skip.append(QStringLiteral("编辑框_代理"));
    // So does its browser address, which may carry a login or a token.
    skip.append(QStringLiteral("编辑框_浏览器地址"));
    // Sections and keys of others are kept; a file that is there but cannot
    // be read is not replaced by one without them.
    {
        QFile existing(file);
        if (existing.exists() && !existing.open(QIODevice::ReadOnly)) {
            qCWarning(lcApp) << "settings not saved:" << file << "cannot be read --" << existing.errorString();
            return false;
        }
    }
    IniFile ini = IniFile::load(file);
    QList<std::pair<QString, QString>> edits;
    for (const QString &name : form.names(ControlKind::Edit)) {
        if (skip.contains(name))
            continue;
        edits.append({name, encodeEditValue(form.text(name))});
        if (name == kLibrary)
            setLibraryValue(ini, edits.last().second);
        else
            ini.setValue(kEditSection, name, edits.last().second);
    }
    for (const QString &name : form.names(ControlKind::Radio))
        if (!skip.contains(name))
            ini.setValue(kRadioSection, name, form.isChecked(name) ? kTrue : kFalse);
    for (const QString &name : form.names(ControlKind::Combo))
        if (!skip.contains(name))
            ini.setValue(kComboSection, name, encodeComboValue(form.comboItems(name), form.comboIndex(name), form.text(name)));
    if (!ini.save(file)) {
        qCWarning(lcApp) << "settings not saved to" << file;
        return false;
    }
    // Combo values are never read back, so only the edit boxes are checked.
    reportLostText(form, edits);
    return true;
}

void loadSettings(Form &form, const QString &path)
{
    const IniFile ini = IniFile::load(path.isEmpty() ? settingsDataPath() : path);
    for (const QString &name : form.names(ControlKind::Edit)) {
        const QString v = name == kLibrary ? libraryValue(ini) : ini.value(kEditSection, name);
        if (!v.isEmpty())
            form.setText(name, decodeEditValue(v));
    }
    for (const QString &name : form.names(ControlKind::Radio)) {
        const QString v = ini.value(kRadioSection, name);
        if (!v.isEmpty())
            form.setChecked(name, v != kFalse);
    }
    // The category boxes: their items are the studio's categories and ids.
    for (const QString &name : {QStringLiteral("组合框_一级分类"), QStringLiteral("组合框_二级分类")}) {
        const QString v = ini.value(kComboSection, name);
        if (v.isEmpty())
            continue;
        if (const auto combo = decodeComboValue(v))
            form.setComboItems(name, combo->first, combo->second);
        else
            qCWarning(lcApp).noquote() << "the saved items of" << name << "are not in the settings file's format; the box stays empty";
    }
}

} // namespace settings
