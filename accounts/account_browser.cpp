#include "accounts/account_browser.h"

#include "accounts/account_store.h"

#include <QRegularExpression>
#include <QUrl>

namespace {
const QString kGridPrefix = QStringLiteral("grid:");
} // namespace

QString AccountBrowser::text() const
{
    switch (kind) {
    case Endpoint: return endpoint;
    case Grid: return kGridPrefix + node;
    case Local: break;
    }
    return {};
}

QString AccountBrowser::columnText() const
{
    if (kind != Endpoint)
        return text();
    return QUrl(endpoint).toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

AccountBrowser AccountBrowser::parse(const QString &text, QString *why)
{
    const auto refuse = [why] {
        if (why)
            *why = QStringLiteral("浏览器地址格式不正确，应为 ws://主机:端口/…、http://主机:端口 或 grid:节点名");
        return AccountBrowser{};
    };
    if (why)
        why->clear();
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    for (const QChar c : trimmed) {
        if (c.isSpace())
            return refuse();
    }
    AccountBrowser browser;
    if (trimmed.startsWith(kGridPrefix, Qt::CaseInsensitive)) {
        // The node name goes into the session request as it stands.
        static const QRegularExpression nodeName(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
        const QString node = trimmed.mid(kGridPrefix.size());
        if (!nodeName.match(node).hasMatch())
            return refuse();
        browser.kind = Grid;
        browser.node = node;
        return browser;
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool known = scheme == u"ws" || scheme == u"wss" || scheme == u"http" || scheme == u"https";
    // An endpoint always names its port: there is no default DevTools port.
    if (!url.isValid() || !known || url.host().isEmpty() || url.port() < 1 || url.port() > 65535)
        return refuse();
    browser.kind = Endpoint;
    browser.endpoint = trimmed;
    return browser;
}

namespace accounts {

std::optional<QString> browserTextOf(const QString &accountId, QString *why)
{
    return memberTextOf(accountId, browserMember(), why);
}

} // namespace accounts
