#include "app/disclaimer.h"

#include "base/atomic_file.h"
#include "base/gbk.h"
#include "base/message_box.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace disclaimer {

QString markerPath()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir::toNativeSeparators(documents + QStringLiteral("/tvbq.dll"));
}

QString disclaimerText()
{
    return QStringLiteral(
        "免责声明：\r\n"
        "1. 本软件仅用于帮助用户管理和发布自己拥有合法权利的视频作品。\r\n"
        "2. 用户应遵守视频平台的用户协议和社区规范，因违反平台规则造成的账号处罚由用户自行承担。\r\n"
        "3. 用户上传的视频、封面和标题等内容由用户自行负责，不得侵犯他人的著作权、肖像权等合法权益。\r\n"
        "4. 账号的登录信息只保存在本机的浏览器缓存目录中，本软件不会收集或上传任何账号密码。\r\n"
        "5. 因网络、平台页面变化或电脑环境等原因导致的发布失败或数据损失，本软件不承担责任。\r\n"
        "6. 请勿将本软件用于任何违法用途，否则一切后果由使用者自行承担。\r\n"
        "如果您已认真阅读并同意以上内容，请点击“确定”，否则请删除与本软件相关的所有资源。\r\n"
        "本信息仅弹出一次。");
}

void acceptDisclaimer()
{
    const QString marker = markerPath();
    if (QFile::exists(marker))
        return;
    if (messagebox::show(disclaimerText(), QStringLiteral("免责声明"), messagebox::Buttons::OkCancel) != messagebox::Answer::Ok)
        return;
    QDir().mkpath(QFileInfo(marker).absolutePath());
    const QString content = QStringLiteral("用户已阅读并同意以下免责声明。\r\n") + disclaimerText();
    if (!writeFileAtomic(marker, gbk::encode(content)))
        return;
#ifdef Q_OS_WIN
    SetFileAttributesW(reinterpret_cast<const wchar_t *>(marker.utf16()), FILE_ATTRIBUTE_HIDDEN);
#endif
}

} // namespace disclaimer
