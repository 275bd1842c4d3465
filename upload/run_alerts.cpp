#include "upload/run_alerts.h"

#include "base/diagnostic_log.h"
#include "base/service_config.h"
#include "net/http_request.h"
#include "upload/log.h"

#include <QCoreApplication>
#include <QHash>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThreadPool>
#include <QUrl>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <utility>

namespace runalerts {

namespace {

constexpr int kPostTimeoutSeconds = 10;
constexpr auto kQuietTime = std::chrono::hours(1);
constexpr qsizetype kMaxReasonChars = 200;

QString who(const Alert &alert)
{
    const QString nick = alert.nickname.trimmed();
    if (nick.isEmpty() || nick == alert.accountId)
        return alert.accountId;
    return alert.accountId.isEmpty() ? nick : QStringLiteral("%1（%2）").arg(nick, alert.accountId);
}

QByteArray jsonOf(const std::function<void(rapidjson::Writer<rapidjson::StringBuffer> &)> &members)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    members(writer);
    writer.EndObject();
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

void put(rapidjson::Writer<rapidjson::StringBuffer> &writer, const char *key, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    writer.Key(key);
    writer.String(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
}

// The pool lives on to the end of the process; the application's end waits
// for its posts while the diagnostic log is still there.
QThreadPool &posts()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1); // alerts go out in the order they came
        // Made on whichever lane raised the first alert; the lane may end first.
        if (QCoreApplication *app = QCoreApplication::instance())
            p->moveToThread(app->thread());
        qAddPostRoutine([] { waitForPosts((kPostTimeoutSeconds + 2) * 1000); });
        return p;
    }();
    return *pool;
}

// When each (account, cause) was last sent.
std::mutex g_sentMutex;
QHash<QPair<QString, int>, std::chrono::steady_clock::time_point> g_sent;

bool firstWithinTheHour(const QString &accountId, Cause cause)
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(g_sentMutex);
    const QPair<QString, int> key(accountId, static_cast<int>(cause));
    const auto it = g_sent.constFind(key);
    if (it != g_sent.cend() && now - *it < kQuietTime)
        return false;
    g_sent.insert(key, now);
    return true;
}

void post(const WebhookPost &request, const QString &what)
{
    diagnostics::setThreadName("alerts");
    net::HttpRequestOptions options;
    options.method = 1;
    options.binaryBody = request.body;
    options.headers = QStringLiteral("Content-Type: application/json; charset=utf-8");
    options.completeHeaders = false;
    options.timeoutSeconds = kPostTimeoutSeconds;
    // options.proxy stays empty: the webhook is never reached through an
    // account's proxy, nor one from the environment.
    const QByteArray answer = net::httpRequest(request.url, options);
    // The address may carry the hook's token: only its host goes into the log.
    const QString host = QUrl(request.url).host();
    if (options.status >= 200 && options.status <= 299) {
        qCInfo(lcUpload).noquote() << "alert" << what << "sent to" << host;
        return;
    }
    if (options.status == 0)
        qCWarning(lcUpload).noquote() << "alert" << what << "not sent: the webhook at" << host << "gave no answer (see tolvar.net above)";
    else
        qCWarning(lcUpload).noquote() << "alert" << what << "not sent: the webhook at" << host << "answered HTTP" << options.status
                                      << QString::fromUtf8(answer.left(200)).simplified();
}

} // namespace

QString causeKey(Cause cause)
{
    switch (cause) {
    case Cause::LoginExpired:
        return QStringLiteral("login_expired");
    case Cause::RunStoppedOnFailures:
        return QStringLiteral("run_stopped");
    case Cause::ProxyUnusable:
        return QStringLiteral("proxy_unusable");
    case Cause::PageCheckFailed:
        return QStringLiteral("page_check_failed");
    case Cause::BrowserNodeUnusable:
        return QStringLiteral("browser_node_unusable");
    }
    return QStringLiteral("unknown");
}

QString messageText(const Alert &alert)
{
    const QString account = who(alert);
    QString what;
    switch (alert.cause) {
    case Cause::LoginExpired:
        what = QStringLiteral("账号%1的登录已失效，需要重新登录").arg(account);
        break;
    case Cause::RunStoppedOnFailures:
        what = QStringLiteral("运行因连续失败已自动停止，最后失败的账号：%1").arg(account);
        break;
    case Cause::ProxyUnusable:
        what = QStringLiteral("账号%1的代理不可用").arg(account);
        break;
    case Cause::PageCheckFailed:
        what = QStringLiteral("发布页面检查未通过，运行已停止（账号%1）").arg(account);
        break;
    case Cause::BrowserNodeUnusable:
        what = QStringLiteral("账号%1的浏览器节点不可用").arg(account);
        break;
    }
    QString text = QStringLiteral("【Tolvar】主机%1：%2").arg(alert.host, what);
    if (!alert.reason.isEmpty())
        text += QStringLiteral("。原因：") + alert.reason;
    return text;
}

QString cleanReason(const QString &reason)
{
    // user:password@ of a proxy or any other address.
    static const QRegularExpression credentials(QStringLiteral(R"([^\s/@:"'()（）]+:[^\s/@"'()（）]*@)"));
    QString text = reason;
    text.replace(credentials, QString());
    text = text.simplified();
    if (text.size() > kMaxReasonChars)
        text = text.left(kMaxReasonChars - 1) + u'…';
    return text;
}

QByteArray dingtalkSign(const QString &secret, qint64 ms)
{
    const QByteArray key = secret.toUtf8();
    const QByteArray toSign = QByteArray::number(ms) + '\n' + key;
    return QMessageAuthenticationCode::hash(toSign, key, QCryptographicHash::Sha256).toBase64();
}

WebhookPost webhookPost(const QString &webhook, const QString &format, const QString &secret, const Alert &alert, qint64 nowMs)
{
    WebhookPost out;
    out.url = webhook;
    const QString text = messageText(alert);
    if (format == u"wecom" || format == u"dingtalk") {
        out.body = jsonOf([&](auto &w) {
            w.Key("msgtype");
            w.String("text");
            w.Key("text");
            w.StartObject();
            put(w, "content", text);
            w.EndObject();
        });
        if (format == u"dingtalk" && !secret.isEmpty()) {
            out.url += webhook.contains(u'?') ? u'&' : u'?';
            out.url += QStringLiteral("timestamp=%1&sign=%2").arg(nowMs).arg(QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(dingtalkSign(secret, nowMs)))));
        }
    } else if (format == u"feishu") {
        out.body = jsonOf([&](auto &w) {
            w.Key("msg_type");
            w.String("text");
            w.Key("content");
            w.StartObject();
            put(w, "text", text);
            w.EndObject();
        });
    } else {
        out.body = jsonOf([&](auto &w) {
            put(w, "source", QStringLiteral("tolvar"));
            put(w, "cause", causeKey(alert.cause));
            put(w, "account", alert.accountId);
            put(w, "nickname", alert.nickname);
            put(w, "host", alert.host);
            put(w, "reason", alert.reason);
            put(w, "text", text);
            put(w, "time", alert.time.toString(Qt::ISODate));
        });
    }
    return out;
}

void raise(Cause cause, const QString &accountId, const QString &nickname, const QString &reason)
{
    const ServiceConfig config = ServiceConfig::load();
    if (config.alertWebhook.isEmpty())
        return;
    const QString what = causeKey(cause) + QStringLiteral(" of account ") + accountId;
    if (!firstWithinTheHour(accountId, cause)) {
        qCInfo(lcUpload).noquote() << "alert" << what << "not sent again: it went out within the hour";
        return;
    }
    Alert alert;
    alert.cause = cause;
    alert.accountId = accountId;
    alert.nickname = nickname;
    alert.reason = cleanReason(reason);
    alert.host = QSysInfo::machineHostName();
    alert.time = QDateTime::currentDateTime();
    WebhookPost request = webhookPost(config.alertWebhook, config.alertFormat, config.alertSecret, alert, QDateTime::currentMSecsSinceEpoch());
    posts().start([request = std::move(request), what] { post(request, what); });
}

bool waitForPosts(int ms)
{
    return posts().waitForDone(ms);
}

} // namespace runalerts
