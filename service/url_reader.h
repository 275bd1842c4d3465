#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

namespace service {

// A flat JSON object read by member name; every value is text, and a missing
// member reads as empty text through value().
using JsonFields = QHash<QString, QString>;

// The body of a plain HTTP GET; empty when the server cannot be reached or
// answers with anything but a 2xx status.
QByteArray readUrlBytes(const QString &url);

// The top-level members of the JSON object at the address. A failed fetch,
// text that is no JSON object, or a document cut short gives no members.
JsonFields readJsonFromUrl(const QString &url);

// The text is UTF-8 or GBK (a leading byte-order mark is dropped). Strings
// as they stand, other values as their JSON text ("3.0" and 3.0 both read as
// "3.0"; null reads as empty).
JsonFields parseFlatJson(QByteArrayView text);

} // namespace service
