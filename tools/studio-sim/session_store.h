#pragma once

#include "json_lines.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace studiosim {

// Logged-in browser profiles: cookie token -> nickname. Kept in a journal under
// the data folder so a restarted simulator still knows the profiles it logged in.
class SessionStore final {
public:
    explicit SessionStore(const std::filesystem::path &journal);

    std::string login(const std::string &user);
    std::optional<std::string> userOf(const std::string &token) const;
    void logout(const std::string &token);
    int logoutUser(const std::string &user);

    static bool validName(const std::string &name);

private:
    void load();
    void record(const std::string &token, const std::string *user);

    JsonLinesFile m_journal;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_users;
};

} // namespace studiosim
