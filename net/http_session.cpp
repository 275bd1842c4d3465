#include "net/http_session.h"

namespace net {

HttpSession::HttpSession()
    : m_handle(detail::newCurlHandle())
{
}

HttpSession::Timeouts HttpSession::timeouts() const
{
    return m_timeouts;
}

void HttpSession::setTimeouts(const Timeouts &timeouts)
{
    m_timeouts = timeouts;
}

QString HttpSession::proxy() const
{
    return m_proxy;
}

void HttpSession::setProxy(const QString &proxy)
{
    m_proxy = proxy;
}

bool HttpSession::followsRedirects() const
{
    return m_followsRedirects;
}

void HttpSession::setFollowsRedirects(bool follow)
{
    m_followsRedirects = follow;
}

} // namespace net
