#include "net/http_session.h"

namespace net {

HttpSession::HttpSession()
    : m_handle(detail::newCurlHandle())
{
}

HttpSession::Timeouts HttpSession::timeouts() const
{
    const std::lock_guard lock(m_mutex);
    return m_timeouts;
}

void HttpSession::setTimeouts(const Timeouts &timeouts)
{
    const std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
}

QString HttpSession::proxy() const
{
    const std::lock_guard lock(m_mutex);
    return m_proxy;
}

void HttpSession::setProxy(const QString &proxy)
{
    const std::lock_guard lock(m_mutex);
    m_proxy = proxy;
}

bool HttpSession::followsRedirects() const
{
    const std::lock_guard lock(m_mutex);
    return m_followsRedirects;
}

void HttpSession::setFollowsRedirects(bool follow)
{
    const std::lock_guard lock(m_mutex);
    m_followsRedirects = follow;
}

} // namespace net
