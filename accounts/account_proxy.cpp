#include "accounts/account_proxy.h"

#include "accounts/account_store.h"

#include <QUrl>

QString AccountProxy::serverText() const
{
    if (isDirect())
        return {};
    const QString h = host.contains(u':') ? u'[' + host + u']' : host; // IPv6 literal
    return scheme + QStringLiteral("://") + h + u':' + QString::number(port);
}

AccountProxy AccountProxy::parse(const QString &text, QString *why)
{
    const auto refuse = [why](const QString &message) {
        if (why)
            *why = message;
        return AccountProxy{};
    };
    if (why)
        why->clear();
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || !(scheme == u"http" || scheme == u"https" || scheme == u"socks5"))
        return refuse(QStringLiteral("代理格式不正确，应为 http://主机:端口、http://用户名:密码@主机:端口、https://主机:端口 或 socks5://主机:端口"));
    if (url.host().isEmpty() || url.port() <= 0 || !(url.path().isEmpty() || url.path() == u"/") || url.hasQuery() || url.hasFragment())
        return refuse(QStringLiteral("代理格式不正确，应为 http://主机:端口、http://用户名:密码@主机:端口、https://主机:端口 或 socks5://主机:端口"));
    // The browser cannot answer a SOCKS5 proxy's login: such a proxy would be
    // used without its credentials, or not at all.
    if (scheme == u"socks5" && (!url.userName().isEmpty() || !url.password().isEmpty()))
        return refuse(QStringLiteral("SOCKS5 代理不支持用户名和密码"));
    if (url.userName().isEmpty() != url.password().isEmpty())
        return refuse(QStringLiteral("代理的用户名和密码须同时填写"));
    AccountProxy proxy;
    proxy.scheme = scheme;
    proxy.host = url.host();
    proxy.port = url.port();
    proxy.user = url.userName(QUrl::FullyDecoded);
    proxy.password = url.password(QUrl::FullyDecoded);
    return proxy;
}

namespace accounts {

std::optional<QString> proxyTextOf(const QString &accountId, QString *why)
{
    return memberTextOf(accountId, proxyMember(), why);
}

} // namespace accounts
