#include "session_store.h"

#include "sim_util.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace studiosim {

SessionStore::SessionStore(const std::filesystem::path &journal) : m_journal(journal)
{
    load();
}

bool SessionStore::validName(const std::string &name)
{
    if (name.empty() || name.size() > 64 || !isValidUtf8(name))
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

void SessionStore::load()
{
    for (const std::string &line : m_journal.lines()) {
        rapidjson::Document doc;
        doc.Parse(line.c_str(), line.size());
        if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("token") || !doc["token"].IsString())
            continue;
        const std::string token = doc["token"].GetString();
        if (doc.HasMember("user") && doc["user"].IsString())
            m_users[token] = doc["user"].GetString();
        else
            m_users.erase(token);
    }
}

void SessionStore::record(const std::string &token, const std::string *user)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("token");
    w.String(token);
    w.Key("user");
    if (user)
        w.String(*user);
    else
        w.Null();
    w.EndObject();
    m_journal.append(buffer.GetString());
}

std::string SessionStore::login(const std::string &user)
{
    const std::string token = randomHex(16);
    std::lock_guard lock(m_mutex);
    m_users[token] = user;
    record(token, &user);
    return token;
}

std::optional<std::string> SessionStore::userOf(const std::string &token) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_users.find(token);
    if (it == m_users.end())
        return std::nullopt;
    return it->second;
}

void SessionStore::logout(const std::string &token)
{
    std::lock_guard lock(m_mutex);
    if (m_users.erase(token))
        record(token, nullptr);
}

int SessionStore::logoutUser(const std::string &user)
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (auto it = m_users.begin(); it != m_users.end();) {
        if (it->second == user) {
            record(it->first, nullptr);
            it = m_users.erase(it);
            ++count;
        } else {
            ++it;
        }
    }
    return count;
}

} // namespace studiosim
