// Stands in for a browser on the DevTools pipe: reads NUL-framed commands on
// fd 3 and answers on fd 4, so the transport and connection can be tested
// without Chromium. "Echo" answers with its params; "Burst" sends one event
// split over many writes and an answer in the same write; "Detach" announces
// that its session went away; "Hang" never answers; "Stall" answers and then
// never reads again (a hung browser); "Exit" ends the process mid-call;
// "Hold" is answered only after the next "Release", and after its answer.
// To the browser library it shows one page at the start address it was given,
// and "Browser.close" ends it a moment after the answer, as a browser does.
// Started with --complain it is a browser that cannot come up: two lines on
// its standard error, and exit code 1.
#include "tests/browser/fake_cdp_peer_io.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

void send(const std::string &text)
{
    std::string framed = text;
    framed.push_back('\0');
    std::size_t done = 0;
    while (done < framed.size()) {
        const long n = peerio::write(framed.data() + done, framed.size() - done);
        if (n <= 0)
            peerio::quit(2);
        done += static_cast<std::size_t>(n);
    }
}

std::string serialise(const rapidjson::Value &value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return buffer.GetString();
}

std::string g_startUrl;

void handle(const std::string &message)
{
    rapidjson::Document doc;
    doc.Parse(message.c_str());
    if (doc.HasParseError() || !doc.IsObject())
        return;
    const std::string id = std::to_string(doc["id"].GetInt64());
    const std::string method = doc["method"].GetString();
    const std::string session = doc.HasMember("sessionId") ? doc["sessionId"].GetString() : "";
    if (method == "Exit")
        peerio::quit(0);
    if (method == "Stall") {
        send("{\"id\":" + id + ",\"result\":{}}");
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (method == "Hang")
        return;
    static std::string held;
    if (method == "Hold") {
        held = id;
        return;
    }
    if (method == "Release") {
        send("{\"id\":" + id + ",\"result\":{\"released\":true}}");
        if (!held.empty())
            send("{\"id\":" + held + ",\"result\":{\"held\":true}}");
        held.clear();
        return;
    }
    if (method == "Detach") {
        send(R"({"method":"Target.detachedFromTarget","params":{"sessionId":"S1"}})");
        send("{\"id\":" + id + ",\"result\":{}}");
        return;
    }
    if (method == "Burst") {
        const std::string event = R"({"method":"Custom.big","sessionId":"S2","params":{"text":")" + std::string(300000, 'x') + "\"}}";
        for (std::size_t at = 0; at < event.size(); at += 7000)
            if (peerio::write(event.data() + at, std::min<std::size_t>(7000, event.size() - at)) <= 0)
                peerio::quit(2);
        if (peerio::write("", 1) != 1) // the NUL that ends the event
            peerio::quit(2);
        send("{\"id\":" + id + ",\"result\":{\"after\":true}}");
        return;
    }
    if (method == "Target.setDiscoverTargets") {
        send(R"({"method":"Target.targetCreated","params":{"targetInfo":{"type":"page","targetId":"T1","url":")" + g_startUrl + "\"}}}");
        send("{\"id\":" + id + ",\"result\":{}}");
        return;
    }
    if (method == "Browser.close") {
        send("{\"id\":" + id + ",\"result\":{}}");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peerio::quit(0);
    }
    if (method == "Fail") {
        send("{\"id\":" + id + R"(,"error":{"code":-32000,"message":"no such thing"}})");
        return;
    }
    const std::string params = doc.HasMember("params") ? serialise(doc["params"]) : "{}";
    send("{\"id\":" + id + ",\"result\":{\"echo\":" + params + ",\"session\":\"" + session + "\"}}");
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0)
            g_startUrl = argv[i];
        if (std::strcmp(argv[i], "--complain") == 0) {
            std::fputs("[0101/000000.000:ERROR:ozone_platform_x11.cc(240)] Missing X server or $DISPLAY\n", stderr);
            std::fputs("[0101/000000.000:ERROR:env.cc(255)] The platform failed to initialize.  Exiting.\n", stderr);
            return 1;
        }
    }
    if (!peerio::open(argc, argv))
        return 3;
    std::string pending;
    char chunk[4096];
    for (;;) {
        const long n = peerio::read(chunk, sizeof chunk);
        if (n <= 0)
            return 0;
        for (long i = 0; i < n; ++i) {
            if (chunk[i] == '\0') {
                handle(pending);
                pending.clear();
            } else {
                pending.push_back(chunk[i]);
            }
        }
    }
}
