#pragma once

#include <QString>

#include <mutex>
#include <set>
#include <string>


// Answers the proxy's challenges of one browser over the protocol (the
// browser-wide Fetch domain): the account's credentials once per request,
// and a cancel for any further challenge of that request (a wrong password
// fails at once instead of asking forever) and for every site's own
// challenge. The credentials never leave this object except to the browser.
class ProxyAuth final {
public:
    ProxyAuth(const QString &user, const QString &password);

    // Params of Fetch.enable: every request paused (so that its challenges
    // reach us), auth requests handled.
    static std::string enableParams();
    // Params of Fetch.continueRequest for a Fetch.requestPaused event.
    static std::string continueParams(const std::string &requestId);
    // Params of Fetch.continueWithAuth for a Fetch.authRequired event.
    std::string answer(const std::string &requestId, const std::string &source);

    // Challenges refused so far (a wrong password, a site's own login).
    int refusedChallenges() const;

private:
    std::string m_user;
    std::string m_password;
    mutable std::mutex m_mutex;
    std::set<std::string> m_answered;
    int m_refused = 0;
};
