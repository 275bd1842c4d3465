#include "http_helpers.h"

#include "sim_context.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace studiosim {

void sendJson(httplib::Response &res, int status, const std::string &json)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(json, "application/json; charset=utf-8");
}

void sendError(httplib::Response &res, int status, const std::string &message)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("error");
    w.String(message);
    w.EndObject();
    sendJson(res, status, buffer.GetString());
}

void sendHtml(httplib::Response &res, int status, const std::string &html)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, "text/html; charset=utf-8");
}

void sendText(httplib::Response &res, int status, const std::string &text)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(text, "text/plain; charset=utf-8");
}

std::string cookieValue(const httplib::Request &req, const std::string &name)
{
    const std::size_t count = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < count; ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        std::size_t pos = 0;
        while (pos < header.size()) {
            std::size_t end = header.find(';', pos);
            if (end == std::string::npos)
                end = header.size();
            std::string item = header.substr(pos, end - pos);
            const std::size_t first = item.find_first_not_of(' ');
            item.erase(0, first == std::string::npos ? item.size() : first);
            if (item.size() > name.size() && item.compare(0, name.size(), name) == 0 && item[name.size()] == '=')
                return item.substr(name.size() + 1);
            pos = end + 1;
        }
    }
    return {};
}

std::optional<std::string> currentUser(SimContext &ctx, const httplib::Request &req)
{
    if (ctx.knobs.snapshot().logoutAll)
        return std::nullopt;
    const std::string token = cookieValue(req, kSessionCookie);
    if (token.empty())
        return std::nullopt;
    return ctx.sessions.userOf(token);
}

} // namespace studiosim
