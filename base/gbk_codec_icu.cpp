#include "base/gbk.h"

#include "base/log.h"

#include <QDebug>
#include <QStringDecoder>
#include <QStringEncoder>

namespace gbk {

namespace {
// GB18030 is a superset of GBK that decodes every GBK text the same way;
// for encoding, GBK itself is used so that no four-byte sequences appear.
constexpr const char *kEncodeName = "GBK";
constexpr const char *kDecodeName = "GB18030";

void reportMissing()
{
    qCCritical(lcBase, "gbk: Qt has no GBK codec (built without ICU?); no text is converted");
}
} // namespace

bool isAvailable()
{
    return QStringEncoder(kEncodeName).isValid() && QStringDecoder(kDecodeName).isValid();
}

QByteArray encode(QStringView text)
{
    QStringEncoder encoder(kEncodeName);
    if (!encoder.isValid()) {
        reportMissing();
        return {};
    }
    return encoder.encode(text);
}

QString decode(QByteArrayView bytes)
{
    QStringDecoder decoder(kDecodeName);
    if (!decoder.isValid()) {
        reportMissing();
        return {};
    }
    return decoder.decode(bytes);
}

} // namespace gbk
