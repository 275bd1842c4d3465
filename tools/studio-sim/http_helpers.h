#pragma once

#include <httplib.h>

#include <optional>
#include <string>

namespace studiosim {

struct SimContext;

inline constexpr const char *kSessionCookie = "sim_session";

void sendJson(httplib::Response &res, int status, const std::string &json);
void sendError(httplib::Response &res, int status, const std::string &message);
void sendHtml(httplib::Response &res, int status, const std::string &html);
void sendText(httplib::Response &res, int status, const std::string &text);

std::string cookieValue(const httplib::Request &req, const std::string &name);
// The logged-in user of the request, honouring the logout-all knob.
std::optional<std::string> currentUser(SimContext &ctx, const httplib::Request &req);

} // namespace studiosim
