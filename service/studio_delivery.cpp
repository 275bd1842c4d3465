#include "service/studio_delivery.h"

#include "runlog/run_log.h"
#include "service/log.h"
#include "studio/studio_source.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>

namespace service {

namespace {

void refuse(const QString &what, const QString &why)
{
    qCWarning(lcService).noquote() << "the studio description offered by the update server" << what << "is refused:" << why;
    runlog::appendRunLog(QStringLiteral("页面配置未采用：") + what + QStringLiteral("：") + why);
}

} // namespace

bool takeOfferedStudioDescription(const JsonFields &index, const QString &folderUrl)
{
    const QString member = index.value(QStringLiteral("页面配置"));
    if (member.isEmpty())
        return false;
    const QJsonObject offer = QJsonDocument::fromJson(member.toUtf8()).object();
    const int version = offer.value(QStringLiteral("版本")).toInt(0);
    const QString fileName = offer.value(QStringLiteral("文件名")).toString();
    const QByteArray sha256 = offer.value(QStringLiteral("SHA256")).toString().toLower().toLatin1();
    studio::StudioDescriptions &descriptions = studio::StudioDescriptions::instance();
    if (version <= descriptions.deliveredVersion())
        return false;
    // One that was refused is not fetched again every minute.
    static QMutex mutex;
    static QSet<QString> refused;
    const QString key = QString::number(version) + u' ' + fileName + u' ' + QString::fromLatin1(sha256);
    {
        const QMutexLocker lock(&mutex);
        if (refused.contains(key))
            return false;
    }
    const auto refuseOnce = [&](const QString &why) {
        refuse(fileName.isEmpty() ? QStringLiteral("(no file name)") : fileName, why);
        const QMutexLocker lock(&mutex);
        refused.insert(key);
        return false;
    };
    if (version <= 0 || sha256.size() != 64)
        return refuseOnce(QStringLiteral("the offer lacks a version or a SHA-256"));
    if (!studio::StudioDescriptions::isDeliveredFileName(fileName))
        return refuseOnce(QStringLiteral("the file name is no bare studio-*.json name"));
    const QByteArray bytes = readUrlBytes(folderUrl + fileName);
    if (bytes.isEmpty()) {
        qCWarning(lcService).noquote() << "the studio description" << fileName << "could not be fetched; tried again at the next look";
        return false;
    }
    if (QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() != sha256)
        return refuseOnce(QStringLiteral("its SHA-256 is not the one the index names"));
    QString why;
    if (!descriptions.offerDelivered(fileName, bytes, &why))
        return refuseOnce(why);
    const QString text = QStringLiteral("页面配置已更新到版本%1").arg(version);
    qCInfo(lcService).noquote() << text << "--" << fileName;
    runlog::appendRunLog(text);
    return true;
}

} // namespace service
