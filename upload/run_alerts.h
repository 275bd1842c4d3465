#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A short message to a group chat's webhook ([alert] of data/services.ini)
// when an unattended run needs a person. It names the account, the cause, a
// short reason and this machine; never a password, a cookie or a proxy's
// credentials. A webhook that fails is logged and costs the run nothing:
// the post runs on a worker thread of its own.
namespace runalerts {

enum class Cause {
    LoginExpired,         // the studio showed its login page, not the upload page
    RunStoppedOnFailures, // the run stopped itself: attempts in a row failed at one step
    ProxyUnusable,        // the account's proxy is down or refuses the account
    PageCheckFailed,      // the upload page failed the check before a run
    BrowserNodeUnusable,  // the browser node the account runs on cannot be used
};

struct Alert {
    Cause cause = Cause::LoginExpired;
    QString accountId;
    QString nickname;
    QString reason; // as cleanReason() leaves it
    QString host;   // this machine's name
    QDateTime time;
};

// "login_expired", "run_stopped" ...: the cause in a json message.
QString causeKey(Cause cause);
// The message as the group reads it.
QString messageText(const Alert &alert);
// A reason as it may leave the machine: any user:password@ taken out, one
// line, at most 200 characters.
QString cleanReason(const QString &reason);

struct WebhookPost {
    QString url;
    QByteArray body; // UTF-8 JSON
};
// The post for `format`: wecom, dingtalk, feishu, or anything else a json
// object of our own. A dingtalk address with a secret is signed at `nowMs`
// (milliseconds since the epoch).
WebhookPost webhookPost(const QString &webhook, const QString &format, const QString &secret, const Alert &alert, qint64 nowMs);
// base64 of HMAC-SHA256 keyed by the secret over "<ms>\n<secret>", before
// it is percent-encoded into the address.
QByteArray dingtalkSign(const QString &secret, qint64 ms);

// Sends the alert when a webhook is set, at most once an hour for the same
// account and cause (process-wide, across lanes). Returns at once; any thread.
void raise(Cause cause, const QString &accountId, const QString &nickname, const QString &reason = {});
// The browser node the account runs on cannot be used.
inline void browserNodeUnusable(const QString &accountId, const QString &nickname, const QString &reason)
{
    raise(Cause::BrowserNodeUnusable, accountId, nickname, reason);
}
// Waits up to `ms` for the posts under way; true when none is left. The
// application's end waits so too, a little longer than one post's time-out.
bool waitForPosts(int ms);

} // namespace runalerts
