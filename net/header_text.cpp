#include "net/header_text.h"

#include <QStringList>

namespace net {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kCookieSeparator = QStringLiteral("; ");

QString capitalised(QString part)
{
    if (!part.isEmpty())
        part[0] = part[0].toUpper();
    return part;
}

// Cookie items of a cookie text; empty items (a trailing "; ") are dropped.
QStringList cookieItems(QString text)
{
    text = text.trimmed();
    if (text.endsWith(u';'))
        text += u' ';
    return text.split(kCookieSeparator, Qt::SkipEmptyParts);
}

} // namespace

QString headerName(QStringView line)
{
    const qsizetype colon = line.indexOf(u':');
    return colon < 0 ? QString() : line.left(colon).trimmed().toString();
}

QString headerValue(QStringView line)
{
    const qsizetype colon = line.indexOf(u':');
    return colon < 0 ? QString() : line.mid(colon + 1).trimmed().toString();
}

QString cookieName(QStringView item)
{
    const qsizetype equals = item.indexOf(u'=');
    return (equals < 0 ? item : item.left(equals)).trimmed().toString();
}

QString removeDuplicateItems(const QString &text, const QString &separator)
{
    QStringList kept;
    for (const QString &item : text.split(separator)) {
        if (!kept.contains(item))
            kept.append(item);
    }
    return kept.join(separator);
}

QString base64Encode(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toBase64());
}

QString mergeCookies(QString &sent, const QString &received)
{
    QStringList merged = cookieItems(received);
    const QStringList sentItems = cookieItems(sent);
    for (const QString &item : sentItems) {
        const QString name = cookieName(item);
        const bool replaced = std::any_of(merged.cbegin(), merged.cend(),
                                          [&](const QString &r) { return cookieName(r) == name; });
        if (!replaced)
            merged.append(item);
    }
    merged.removeIf([](const QString &item) { return item.endsWith(QLatin1String("=deleted")); });
    sent = removeDuplicateItems(merged.join(kCookieSeparator), kCookieSeparator);
    return sent;
}

QString normalizeHeaderNames(const QString &headers)
{
    QStringList lines;
    for (const QString &line : headers.split(kCrLf)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        QStringList parts = line.left(colon).split(u'-');
        for (QString &part : parts)
            part = capitalised(part);
        lines.append(parts.join(u'-') + line.mid(colon));
    }
    return lines.join(kCrLf);
}

QString headerValueOf(const QString &headers, const QString &name)
{
    const QString prefix = name + QStringLiteral(": ");
    for (const QString &line : headers.split(kCrLf)) {
        if (line.startsWith(name))
            return line.startsWith(prefix) ? line.mid(prefix.size()) : QString();
    }
    return {};
}

QString setCookieItems(const QString &responseHeaders, SetCookieLines lines)
{
    static const QString kName = QStringLiteral("Set-Cookie");
    static const QString kField = QStringLiteral("Set-Cookie:");
    QStringList items;
    for (const QString &line : responseHeaders.split(kCrLf)) {
        const qsizetype separator = line.indexOf(QLatin1String(": "));
        if (separator < 0 || QStringView(line).left(separator) != kName)
            continue;
        const qsizetype start = line.indexOf(kField) + kField.size();
        const qsizetype semicolon = line.indexOf(u';', start);
        if (semicolon >= 0)
            items.append(line.mid(start, semicolon - start).trimmed());
        else if (lines == SetCookieLines::All)
            items.append(QString(line).remove(kField, Qt::CaseInsensitive).trimmed());
    }
    return items.join(kCookieSeparator);
}

} // namespace net
