#pragma once

namespace httplib {
class Server;
}

namespace studiosim {

struct SimContext;

// Login, the upload page, the content pages and the page's API.
void registerStudioRoutes(httplib::Server &server, SimContext &ctx);
// Update servers, quote service, notification service and the control endpoint.
void registerServiceRoutes(httplib::Server &server, SimContext &ctx);

} // namespace studiosim
