#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Header text is header lines joined by CR LF; cookie text is name=value
// items joined by "; " without a trailing separator. Both HTTP clients keep
// their headers and cookies in these forms.
namespace net {

// The text before, respectively after, the first ':' of a line, trimmed;
// both are empty for a line without ':'.
QString headerName(QStringView line);
QString headerValue(QStringView line);

// The text before the first '=' of a cookie item, trimmed; the whole item,
// trimmed, when it holds no '='.
QString cookieName(QStringView item);

// Splits at the separator, keeps the first occurrence of each item (exact,
// case-sensitive) in the original order and joins again.
QString removeDuplicateItems(const QString &text, const QString &separator);

// Standard Base64 with '=' padding.
QString base64Encode(QByteArrayView bytes);

// Merges the cookies a server returned into those that were sent: every
// returned cookie comes first (it replaces a sent one of the same name), then
// the sent cookies the server did not mention; cookies whose value is
// "deleted" are dropped, duplicates removed. The result is also written back
// into `sent`.
QString mergeCookies(QString &sent, const QString &received);

// Capitalises header names: each '-'-separated part of a name gets an
// upper-case first character, everything else stays. Lines without ':' are
// dropped; the lines are joined by CR LF without a trailing one.
QString normalizeHeaderNames(const QString &headers);

// The value of the first line that begins with `name` (case-sensitive): the
// text after name + ": " on that line; empty when no line matches.
QString headerValueOf(const QString &headers, const QString &name);

// How the clients collect the cookies a response sets.
enum class SetCookieLines {
    All,              // a Set-Cookie line without ';' gives its whole value
    WithAttributesOnly // a Set-Cookie line without ';' is ignored
};

// The name=value items of the response's Set-Cookie lines, in header order,
// as cookie text. Only lines whose name before ": " is exactly "Set-Cookie"
// count.
QString setCookieItems(const QString &responseHeaders, SetCookieLines lines);

} // namespace net
