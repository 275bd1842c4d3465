#include "studio_routes.h"

#include "http_helpers.h"
#include "sim_context.h"
#include "sim_util.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace studiosim {

namespace {

constexpr const char *kReportSalt = "plovrenut48217x@@##590";
// A 1 x 1 transparent GIF, so an announcement picture decodes.
constexpr unsigned char kTinyGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
    0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

std::string origin(const SimContext &ctx)
{
    return "http://127.0.0.1:" + std::to_string(ctx.port);
}

// Byte i of the downloadable file; a known pattern lets a client check what it stored.
char downloadByte(long long i)
{
    return static_cast<char>((i * 7 + 3) % 251);
}

// The studio page description offered next to the update: read afresh on
// every request, so a test may rewrite the file while the simulator runs.
struct StudioDescription {
    std::string fileName; // base name, served as ROOT/up_quorl/<fileName>
    std::string bytes;
};

std::string studioDescriptionName(const KnobValues &k)
{
    return std::filesystem::path(k.studioDescription).filename().string();
}

bool readStudioDescription(const KnobValues &k, StudioDescription &out, std::string &error)
{
    std::ifstream in(std::filesystem::path(k.studioDescription), std::ios::binary);
    if (!in) {
        error = "cannot read the studio description " + k.studioDescription;
        return false;
    }
    out.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out.fileName = studioDescriptionName(k);
    return true;
}

bool updateIndex(const SimContext &ctx, const KnobValues &k, int server, std::string &json, std::string &error)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("版本"); w.String(k.updateVersion);
    w.Key("更新说明"); w.String(k.updateNotes);
    w.Key("文件名"); w.String(k.updateFileName);
    w.Key("下载地址"); w.String(origin(ctx) + "/u" + std::to_string(server) + "/files/update.bin");
    if (!k.studioDescription.empty()) {
        // An object member: clients that read only the string members pass it by.
        StudioDescription d;
        if (!readStudioDescription(k, d, error))
            return false;
        rapidjson::Document doc;
        doc.Parse(d.bytes.c_str(), d.bytes.size());
        if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("version") || !doc["version"].IsInt64()) {
            error = "the studio description has no integer \"version\": " + k.studioDescription;
            return false;
        }
        w.Key("页面配置");
        w.StartObject();
        w.Key("版本"); w.Int64(doc["version"].GetInt64());
        w.Key("文件名"); w.String(d.fileName);
        w.Key("SHA256"); w.String(k.studioDescriptionSha256.empty() ? sha256Hex(d.bytes) : k.studioDescriptionSha256);
        w.EndObject();
    }
    w.EndObject();
    json = buffer.GetString();
    return true;
}

std::string announcement(const SimContext &ctx)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("all"); w.String("欢迎使用Tolvar，祝您创作愉快！");
    w.Key("ad1url"); w.String(origin(ctx) + "/upload");
    w.EndObject();
    return buffer.GetString();
}

void handleUpdate(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const int server = std::stoi(req.matches[1].str());
    const std::string path = req.matches[2].str();
    const KnobValues k = ctx.knobs.snapshot();
    if (listHas(k.updateDown, server))
        return sendText(res, 503, "service unavailable");
    if (path == "test.txt")
        return sendText(res, 200, listHas(k.updateProbeBad, server) ? "ok " : "ok");
    if (path == "up_quorl/index.json") {
        if (k.failIndex)
            return sendText(res, 500, "error");
        if (k.brokenIndex)
            return sendJson(res, 200, "{\"版本\": \"" + k.updateVersion + "\", ");
        std::string json, error;
        if (!updateIndex(ctx, k, server, json, error))
            return sendText(res, 500, error);
        return sendJson(res, 200, json);
    }
    if (!k.studioDescription.empty() && path == "up_quorl/" + studioDescriptionName(k)) {
        StudioDescription d;
        std::string error;
        if (!readStudioDescription(k, d, error))
            return sendText(res, 500, error);
        return sendJson(res, 200, d.bytes);
    }
    if (path == "gonggao.json") {
        if (k.failAnnouncement)
            return sendText(res, 500, "error");
        return sendJson(res, 200, announcement(ctx));
    }
    if (path.compare(0, 5, "tool/") == 0) {
        long long n = 0;
        const bool named = path.size() > 11 && path.compare(0, 7, "tool/ad") == 0
            && path.compare(path.size() - 4, 4, ".gif") == 0 && parseInt(path.substr(7, path.size() - 11), n);
        if (!named || n < 1 || n > 17)
            return sendText(res, 404, "not found");
        if (k.failAd)
            return sendText(res, 500, "error");
        res.set_content(reinterpret_cast<const char *>(kTinyGif), sizeof kTinyGif, "image/gif");
        return;
    }
    if (path == "files/update.bin") {
        if (k.failDownload)
            return sendText(res, 500, "error");
        const long long size = k.updateFileSize;
        // httplib answers a range running past the end with the full length
        // asked for; clients may ask past the end, so clamp it to the file.
        for (auto &range : const_cast<httplib::Request &>(req).ranges) {
            if (range.second >= size)
                range.second = size - 1;
        }
        // httplib answers Range requests (206) from a sized provider by itself.
        res.set_content_provider(static_cast<size_t>(size), "application/octet-stream",
                                 [](size_t offset, size_t length, httplib::DataSink &sink) {
                                     std::string block(std::min<size_t>(length, 64 * 1024), '\0');
                                     for (size_t i = 0; i < block.size(); ++i)
                                         block[i] = downloadByte(static_cast<long long>(offset + i));
                                     return sink.write(block.data(), block.size());
                                 });
        return;
    }
    sendText(res, 404, "not found");
}

void handleQuote(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const KnobValues k = ctx.knobs.snapshot();
    if (k.failQuote)
        return sendText(res, 500, "error");
    if (req.get_param_value("encode") == "text")
        return sendText(res, 200, k.quoteText);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("hitokoto");
    w.String(k.quoteText);
    w.EndObject();
    sendJson(res, 200, buffer.GetString());
}

// The sign is "<md5 hex of salt + t>@<t>" with t ten decimal digits.
bool signValid(const std::string &sign)
{
    const std::size_t at = sign.find('@');
    if (at != 32 || sign.size() != 43)
        return false;
    const std::string t = sign.substr(33);
    for (char c : t) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return sign.compare(0, 32, md5Hex(std::string(kReportSalt) + t)) == 0;
}

void handleNotify(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    if (ctx.knobs.snapshot().failNotify)
        return sendText(res, 500, "error");
    const std::string sign = req.get_header_value("Sign");
    if (!signValid(sign))
        return sendText(res, 403, "sign error");
    if (!req.has_param("title") || !req.has_param("body"))
        return sendText(res, 400, "missing title or body");
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("time"); w.String(nowText());
    w.Key("mubiao"); w.String(gbkToUtf8(req.get_param_value("mubiao")));
    w.Key("title"); w.String(gbkToUtf8(req.get_param_value("title")));
    w.Key("body"); w.String(gbkToUtf8(req.get_param_value("body")));
    w.Key("sa"); w.String(asciiSafe(req.get_param_value("sa")));
    w.Key("sign"); w.String(sign);
    w.Key("target"); w.String(asciiSafe(req.target));
    w.EndObject();
    if (!ctx.notifications.append(buffer.GetString()))
        return sendText(res, 500, "cannot store");
    sendText(res, 200, "ok");
}

void handleKnobs(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    for (const auto &[name, value] : req.params) {
        std::string error;
        if (!ctx.knobs.set(name, value, error))
            return sendError(res, 400, error);
    }
    sendJson(res, 200, ctx.knobs.toJson());
}

} // namespace

void registerServiceRoutes(httplib::Server &server, SimContext &ctx)
{
    server.Get(R"(/u([123])/(.*))",
               [&ctx](const httplib::Request &req, httplib::Response &res) { handleUpdate(ctx, req, res); });
    server.Get(R"(/quote/?)", [&ctx](const httplib::Request &req, httplib::Response &res) { handleQuote(ctx, req, res); });
    server.Get("/tongzhi", [&ctx](const httplib::Request &req, httplib::Response &res) { handleNotify(ctx, req, res); });
    server.Get("/__sim/knobs", [&ctx](const httplib::Request &, httplib::Response &res) {
        sendJson(res, 200, ctx.knobs.toJson());
    });
    server.Post("/__sim/knobs", [&ctx](const httplib::Request &req, httplib::Response &res) { handleKnobs(ctx, req, res); });
    server.Post("/__sim/logout", [&ctx](const httplib::Request &req, httplib::Response &res) {
        const int count = ctx.sessions.logoutUser(req.get_param_value("name"));
        sendJson(res, 200, "{\"sessions\":" + std::to_string(count) + "}");
    });
}

} // namespace studiosim
