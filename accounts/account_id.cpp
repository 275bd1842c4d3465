#include "accounts/account_id.h"

#include <QRegularExpression>

namespace accountid {

namespace {
// Windows opens the device, not a file, for these names with any extension
// (spaces before the extension are dropped first).
bool isDeviceName(const QString &id)
{
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|COM[1-9¹²³]|LPT[1-9¹²³]) *(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(id).hasMatch();
}
} // namespace

QString whyUnsafe(const QString &id)
{
    if (id.isEmpty())
        return QStringLiteral("账号标识 不能为空");
    if (id == u"." || id == u"..")
        return QStringLiteral("账号标识 不能是 . 或 ..");
    for (const QChar c : id) {
        if (c.unicode() < 0x20)
            return QStringLiteral("账号标识 不能包含控制字符");
        if (QStringLiteral("\\/:*?\"<>|").contains(c))
            return QStringLiteral("账号标识 不能包含 \\ / : * ? \" < > | 等字符");
    }
    if (id.endsWith(u'.') || id.endsWith(u' '))
        return QStringLiteral("账号标识 不能以点或空格结尾");
    if (isDeviceName(id))
        return QStringLiteral("账号标识 不能是系统保留的设备名（如 CON、NUL、COM1）");
    return {};
}

} // namespace accountid
