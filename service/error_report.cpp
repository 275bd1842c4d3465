#include "service/error_report.h"

#include "base/gbk.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "net/page_fetch.h"
#include "service/log.h"
#include "service/update_check.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QSysInfo>

namespace errorreport {

ErrorReport ErrorReport::gather(qint32 errorCode, const QString &errorText)
{
    ErrorReport r;
    r.hostName = QSysInfo::machineHostName().left(15);
    if (QCoreApplication::instance())
        r.programFileName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    r.runDirectory = rundir::path();
    r.operatingSystem = QSysInfo::prettyProductName();
    r.version = service::LOCAL_VERSION;
    r.errorCode = errorCode;
    r.errorText = errorText;
    return r;
}

QString ErrorReport::title() const
{
    QString t = QStringLiteral("电脑") + hostName + QStringLiteral("发现bug，软件-") + programFileName + QStringLiteral("版本号") + version;
    return t.remove(u' ');
}

QString ErrorReport::body() const
{
    return QStringLiteral("所属软件：") + programFileName
        + QStringLiteral("\r\n    软件运行路径：") + runDirectory
        + QStringLiteral("\r\n   操作系统：") + operatingSystem
        + QStringLiteral("\r\n   软件错误代码：") + QString::number(errorCode)
        + QStringLiteral("\r\n   错误信息：") + errorText
        + QStringLiteral("     Tolvar软件 错误信息和bug通知系统。\r\n");
}

QString percentEncode(QByteArrayView bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == 0)
            continue;
        if (b == '-' || b == '.' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
            out += QChar(b);
        } else if (b == ' ') {
            out += u'+';
        } else {
            out += u'%';
            out += QChar(kHex[b >> 4]);
            out += QChar(kHex[b & 0x0F]);
        }
    }
    return out;
}

QString unixSecondsText(const QDateTime &localTime)
{
    // The local wall-clock time counted from 08:00 on 1 January 1970: the Unix
    // time wherever the zone is UTC+8, which is what the service expects.
    const qint64 seconds = localTime.toSecsSinceEpoch() + localTime.offsetFromUtc() - 8 * 3600;
    return QString::number(seconds).left(10).leftJustified(10, u'0');
}

QString unixSecondsText()
{
    return unixSecondsText(QDateTime::currentDateTime());
}

QString buildSignHeader(const QString &secondsText)
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray(REPORT_SALT) + secondsText.toLatin1(), QCryptographicHash::Md5);
    return QStringLiteral("sign:") + QString::fromLatin1(hash.toHex()) + u'@' + secondsText;
}

QString buildSignHeader()
{
    return buildSignHeader(unixSecondsText());
}

QString notificationUrl(const ServiceConfig &config, const ErrorReport &report)
{
    QString host = config.notifyHost;
    while (host.endsWith(u'/'))
        host.chop(1);
    const qsizetype schemeEnd = host.indexOf(QStringLiteral("://"));
    const QString authority = schemeEnd < 0 ? host : host.mid(schemeEnd + 3);
    if (schemeEnd < 0)
        host.prepend(QStringLiteral("http://"));
    // "[::1]" has colons of its own; only one after the closing bracket is a port.
    if (!authority.mid(authority.lastIndexOf(u']') + 1).contains(u':'))
        host += QStringLiteral(":8899");
    return host + QStringLiteral("/tongzhi?mubiao=") + config.notifyTarget
        + QStringLiteral("&title=") + percentEncode(gbk::encode(report.title()))
        + QStringLiteral("&body=") + percentEncode(gbk::encode(report.body()))
        + QStringLiteral("&sa=1");
}

void sendReport(const ServiceConfig &config, const ErrorReport &report)
{
    net::PageFetchOptions options;
    options.headers = buildSignHeader();
    net::fetchPageText(notificationUrl(config, report), options);
    if (options.statusText.startsWith(u'2'))
        qCInfo(lcService) << "error report" << report.errorCode << "sent";
    else
        qCWarning(lcService).noquote() << "error report" << report.errorCode << "not delivered:" << options.statusText;
}

void sendErrorReport(qint32 errorCode, const QString &errorText)
{
    const ErrorReport report = ErrorReport::gather(errorCode, errorText);
    messagebox::show(QStringLiteral("软件发生致命错误，已经上报开发人员加紧修复bug\r\n   软件错误代码：") + QString::number(errorCode)
                         + QStringLiteral("\r\n   错误信息：") + errorText,
                     QStringLiteral("Tolvar软件bug提示"), messagebox::Buttons::Ok);
    sendReport(ServiceConfig::load(), report);
}

} // namespace errorreport
