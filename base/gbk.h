#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Files that users and earlier versions share are GBK (code page 936).
namespace gbk {

QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

// True when the bytes are well-formed UTF-8 (pure ASCII counts as UTF-8).
bool isValidUtf8(QByteArrayView bytes);

// Text of unknown encoding: UTF-8 when it is valid UTF-8, GBK otherwise.
// A leading UTF-8 byte-order mark is dropped.
QString decodeUtf8OrGbk(QByteArrayView bytes);

} // namespace gbk
