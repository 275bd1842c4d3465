// Stands in for a browser on the DevTools pipe: reads NUL-framed commands on
// fd 3 and answers on fd 4, so the transport and connection can be tested
// without Chromium. "Echo" answers with its params; "Burst" sends one event
// split over many writes and an answer in the same write; "Detach" announces
// that its session went away; "Hang" never answers; "Exit" ends the process.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <string>
#include <unistd.h>

namespace {

void send(const std::string &text)
{
    std::string framed = text;
    framed.push_back('\0');
    std::size_t done = 0;
    while (done < framed.size()) {
        const ssize_t n = ::write(4, framed.data() + done, framed.size() - done);
        if (n <= 0)
            _exit(2);
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
        _exit(0);
    if (method == "Hang")
        return;
    if (method == "Detach") {
        send(R"({"method":"Target.detachedFromTarget","params":{"sessionId":"S1"}})");
        send("{\"id\":" + id + ",\"result\":{}}");
        return;
    }
    if (method == "Burst") {
        const std::string event = R"({"method":"Custom.big","sessionId":"S2","params":{"text":")" + std::string(300000, 'x') + "\"}}";
        for (std::size_t at = 0; at < event.size(); at += 7000)
            if (::write(4, event.data() + at, std::min<std::size_t>(7000, event.size() - at)) <= 0)
                _exit(2);
        if (::write(4, "", 1) != 1) // the NUL that ends the event
            _exit(2);
        send("{\"id\":" + id + ",\"result\":{\"after\":true}}");
        return;
    }
    if (method == "Fail") {
        send("{\"id\":" + id + R"(,"error":{"code":-32000,"message":"no such thing"}})");
        return;
    }
    const std::string params = doc.HasMember("params") ? serialise(doc["params"]) : "{}";
    send("{\"id\":" + id + ",\"result\":{\"echo\":" + params + ",\"session\":\"" + session + "\"}}");
}

} // namespace

int main()
{
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(3, chunk, sizeof chunk);
        if (n <= 0)
            return 0;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\0') {
                handle(pending);
                pending.clear();
            } else {
                pending.push_back(chunk[i]);
            }
        }
    }
}
