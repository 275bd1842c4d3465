#include "browser/proxy_auth.h"

#include "browser/cdp_params.h"
#include "browser/log.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

ProxyAuth::ProxyAuth(const QString &user, const QString &password)
    : m_user(user.toStdString())
    , m_password(password.toStdString())
{
}

std::string ProxyAuth::enableParams()
{
    return R"({"handleAuthRequests":true,"patterns":[{"urlPattern":"*","requestStage":"Request"}]})";
}

std::string ProxyAuth::continueParams(const std::string &requestId)
{
    return CdpParams().text("requestId", requestId).json();
}

std::string ProxyAuth::answer(const std::string &requestId, const std::string &source)
{
    bool provide = false;
    {
        std::lock_guard lock(m_mutex);
        // Only the proxy gets the account's credentials, and only once per
        // request: a second challenge means they were refused.
        provide = source == "Proxy" && !m_user.empty() && m_answered.insert(requestId).second;
        if (!provide)
            ++m_refused;
        // Requests are many over a long run; the ids of finished ones are
        // never challenged again.
        if (m_answered.size() > 4096)
            m_answered.clear();
    }
    if (!provide)
        qCWarning(lcBrowser).noquote() << "an authentication challenge from the" << QString::fromStdString(source).toLower()
                                       << "was cancelled (request" << QString::fromStdString(requestId) << ")";
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("requestId");
    w.String(requestId.c_str(), static_cast<rapidjson::SizeType>(requestId.size()));
    w.Key("authChallengeResponse");
    w.StartObject();
    w.Key("response");
    w.String(provide ? "ProvideCredentials" : "CancelAuth");
    if (provide) {
        w.Key("username");
        w.String(m_user.c_str(), static_cast<rapidjson::SizeType>(m_user.size()));
        w.Key("password");
        w.String(m_password.c_str(), static_cast<rapidjson::SizeType>(m_password.size()));
    }
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

int ProxyAuth::refusedChallenges() const
{
    std::lock_guard lock(m_mutex);
    return m_refused;
}
