#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Files that users and earlier versions share are GBK (code page 936).
// The codec is the system's own code page 936 on Windows and the GBK of
// Qt's ICU elsewhere. Without one, nothing is ever written in another
// encoding instead: the program refuses to start (isAvailable), and encode
// and decode give empty results with the reason in the log.
namespace gbk {

bool isAvailable();
QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

// True when the bytes are well-formed UTF-8 (pure ASCII counts as UTF-8).
bool isValidUtf8(QByteArrayView bytes);

// Text of unknown encoding: UTF-8 when it is valid UTF-8, GBK otherwise.
// A leading UTF-8 byte-order mark is dropped.
QString decodeUtf8OrGbk(QByteArrayView bytes);

} // namespace gbk
