// studio-sim: a local stand-in for the creator studio and the maintenance
// services, for tests and the demo. Listens on 127.0.0.1 only.
#include "http_helpers.h"
#include "sim_context.h"
#include "sim_util.h"
#include "studio_routes.h"

#include <httplib.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <csignal>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <optional>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr int kDefaultPort = 8721;

struct Options {
    int port = kDefaultPort;
    std::filesystem::path data = "studio-sim-data";
};

void printUsage()
{
    std::cout << "usage: studio-sim [--port P] [--data DIR] [knobs]\n"
                 "  --port P    port on 127.0.0.1 (0 picks a free one; default 8721)\n"
                 "  --data DIR  folder for the ledgers, sessions and uploads (default ./studio-sim-data)\n"
                 "knobs (also settable while running: POST /__sim/knobs?name=value):\n"
              << studiosim::Knobs::usage();
}

// Returns 0 to go on, otherwise the exit code.
int parseArguments(int argc, char **argv, Options &options, studiosim::Knobs &knobs)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage();
            return -1;
        }
        if (arg.rfind("--", 0) != 0) {
            std::cerr << "studio-sim: unexpected argument " << arg << "\n";
            return 2;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const bool flag = studiosim::Knobs::isFlag(name);
        if (!hasValue && !flag) {
            if (i + 1 >= argc) {
                std::cerr << "studio-sim: --" << name << " needs a value\n";
                return 2;
            }
            value = argv[++i];
        }
        std::string error;
        if (name == "port") {
            long long port = 0;
            if (!studiosim::parseInt(value, port) || port < 0 || port > 65535) {
                std::cerr << "studio-sim: bad port " << value << "\n";
                return 2;
            }
            options.port = static_cast<int>(port);
        } else if (name == "data") {
            options.data = value;
        } else if (!knobs.set(name, value, error)) {
            std::cerr << "studio-sim: " << error << "\n";
            return 2;
        }
    }
    return 0;
}

// One line of requests.jsonl.
std::string requestLine(studiosim::SimContext &ctx, const httplib::Request &req, int status)
{
    const std::string token = studiosim::cookieValue(req, studiosim::kSessionCookie);
    const auto user = token.empty() ? std::nullopt : ctx.sessions.userOf(token);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("user"); w.String(user ? *user : std::string());
    w.Key("client"); w.String(req.remote_addr);
    w.Key("method"); w.String(req.method);
    w.Key("path"); w.String(studiosim::asciiSafe(req.path));
    w.Key("status"); w.Int(status);
    w.Key("time_ms");
    w.Int64(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    w.EndObject();
    return buffer.GetString();
}

// A thread that waits for SIGTERM or SIGINT, so shutdown runs as ordinary code.
std::thread signalWatcher(const sigset_t &signals, httplib::Server &server, studiosim::Stopper &stopper)
{
    return std::thread([signals, &server, &stopper] {
        int sig = 0;
        sigwait(&signals, &sig);
        stopper.stop();
        server.stop();
    });
}

} // namespace

int main(int argc, char **argv)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    // Blocked before any thread starts, so every thread inherits the mask.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Options options;
    studiosim::Knobs cliKnobs;
    if (const int rc = parseArguments(argc, argv, options, cliKnobs); rc != 0)
        return rc < 0 ? 0 : rc;

    std::error_code ec;
    std::filesystem::create_directories(options.data / "uploads", ec);
    std::filesystem::create_directories(options.data / "covers", ec);
    if (ec) {
        std::cerr << "studio-sim: cannot create " << options.data << ": " << ec.message() << "\n";
        return 1;
    }

    studiosim::SimContext ctx(options.data);
    ctx.knobs.assign(cliKnobs.snapshot());

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(48); };
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(30);
    server.set_payload_max_length(32u << 20);
    server.set_logger([&ctx](const httplib::Request &req, const httplib::Response &res) { ctx.requests.append(requestLine(ctx, req, res.status)); });
    studiosim::registerStudioRoutes(server, ctx);
    studiosim::registerServiceRoutes(server, ctx);

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        std::cerr << "studio-sim: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    ctx.port = port;
    std::printf("listening on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);

    std::thread watcher = signalWatcher(signals, server, ctx.stopper);
    const bool ok = server.listen_after_bind();
    if (!ok) {
        // The server ended on its own; let the watcher go too.
        pthread_kill(watcher.native_handle(), SIGTERM);
    }
    watcher.join();
    return 0;
}
