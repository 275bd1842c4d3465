#include "studio_routes.h"

#include "categories.h"
#include "http_helpers.h"
#include "pages.h"
#include "sim_context.h"
#include "sim_util.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

namespace studiosim {

namespace {

constexpr const char *kPublishedLanding = "/content?tab=video&investigation_param=cover_edited";
constexpr const char *kDraftLanding = "/content?tab=draft";
constexpr long long kCookieSeconds = 365LL * 24 * 3600;

std::string cookieExpires()
{
    const std::time_t when = std::time(nullptr) + kCookieSeconds;
    std::tm tm {};
    gmtime_r(&when, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buffer;
}

void handleLogin(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    if (!req.has_param("name")) {
        sendHtml(res, 200, loginPage({}));
        return;
    }
    std::string name = req.get_param_value("name");
    const std::size_t first = name.find_first_not_of(' ');
    const std::size_t last = name.find_last_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
    if (!SessionStore::validName(name)) {
        sendHtml(res, 400, loginPage("请输入1到64字节的昵称"));
        return;
    }
    const std::string token = ctx.sessions.login(name);
    // Max-Age and Expires make the cookie persistent, so the profile stays logged in.
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + token + "; Path=/; Max-Age="
                       + std::to_string(kCookieSeconds) + "; Expires=" + cookieExpires() + "; HttpOnly; SameSite=Lax");
    res.set_redirect("/upload");
}

void handleLogout(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const std::string token = cookieValue(req, kSessionCookie);
    if (!token.empty())
        ctx.sessions.logout(token);
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0");
    res.set_redirect("/login");
}

std::string pageConfig(const KnobValues &k)
{
    const long long dialog = k.slowDialogs > 0 ? k.slowDialogs : 800;
    const long long submit = k.slowDialogs > 0 ? k.slowDialogs : 300;
    return "{\"dialogDelay\":" + std::to_string(dialog) + ",\"submitDelay\":" + std::to_string(submit) + ",\"guideBubble\":"
        + std::to_string(k.guideBubble) + ",\"coverToast\":" + std::to_string(k.coverToast) + ",\"lateForm\":" + (k.lateForm ? "true" : "false")
        + ",\"pushLanding\":" + (k.pushLanding ? "true" : "false") + ",\"hiddenInputs\":" + (k.hiddenInputs ? "true" : "false")
        + ",\"lateLanding\":" + std::to_string(k.lateLanding) + "}";
}

std::vector<ContentRow> contentRows(SimContext &ctx, const std::string &user, bool drafts)
{
    std::vector<ContentRow> rows;
    for (const std::string &line : ctx.published.lines()) {
        rapidjson::Document d;
        d.Parse(line.c_str(), line.size());
        if (d.HasParseError() || !d.IsObject())
            continue;
        auto text = [&d](const char *key) {
            return d.HasMember(key) && d[key].IsString() ? std::string(d[key].GetString()) : std::string();
        };
        const bool draft = d.HasMember("draft") && d["draft"].IsBool() && d["draft"].GetBool();
        if (text("user") != user || draft != drafts)
            continue;
        rows.insert(rows.begin(), ContentRow {text("title"), text("file_name"), text("time"), text("cover")});
    }
    return rows;
}

void handlePage(SimContext &ctx, const httplib::Request &req, httplib::Response &res, bool upload)
{
    const auto user = currentUser(ctx, req);
    if (!user) {
        res.set_redirect("/login");
        return;
    }
    // A busy studio: the page comes, but late.
    if (const long long delay = ctx.knobs.snapshot().pageDelay; delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (upload) {
        // A login that expires: after so many publishes the next upload page
        // asks the user to log in again.
        const long long expiresAfter = ctx.knobs.snapshot().loginExpiresAfter;
        if (expiresAfter > 0
            && static_cast<long long>(contentRows(ctx, *user, false).size() + contentRows(ctx, *user, true).size()) >= expiresAfter) {
            ctx.sessions.logoutUser(*user);
            res.set_redirect("/login");
            return;
        }
        const KnobValues k = ctx.knobs.snapshot();
        sendHtml(res, 200, uploadPage(*user, pageConfig(k), k.redesign));
        return;
    }
    const std::string tab = req.get_param_value("tab");
    sendHtml(res, 200, contentPage(*user, tab, contentRows(ctx, *user, tab == "draft"), ctx.knobs.snapshot().listDelay));
}

void handleUploadInit(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const auto user = currentUser(ctx, req);
    if (!user)
        return sendError(res, 401, "未登录");
    rapidjson::Document d;
    d.Parse(req.body.c_str(), req.body.size());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember("size") || !d["size"].IsInt64())
        return sendError(res, 400, "bad request");
    const std::string name = d.HasMember("name") && d["name"].IsString() ? d["name"].GetString() : "";
    std::string error;
    const std::string id = ctx.uploads.begin(*user, name, d["size"].GetInt64(), error);
    if (id.empty())
        return sendError(res, 400, error);
    const long long chunk = ctx.uploads.chunkSizeFor(d["size"].GetInt64(), ctx.knobs.snapshot());
    sendJson(res, 200, "{\"id\":\"" + id + "\",\"chunk\":" + std::to_string(chunk) + "}");
}

void handleUploadChunk(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const auto user = currentUser(ctx, req);
    if (!user)
        return sendError(res, 401, "未登录");
    long long offset = 0;
    if (!parseInt(req.get_param_value("offset"), offset))
        return sendError(res, 400, "bad offset");
    const ChunkOutcome out =
        ctx.uploads.appendChunk(*user, req.get_param_value("id"), offset, req.body, ctx.knobs.snapshot());
    if (out.httpStatus == 404)
        return sendError(res, 404, "no such upload");
    // Answering no earlier than the set speed allows is what paces the browser.
    ctx.stopper.sleepUntil(out.answerAt);
    sendJson(res, out.httpStatus,
             "{\"received\":" + std::to_string(out.received) + ",\"state\":\"" + out.state + "\"}");
}

void handleCover(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const auto user = currentUser(ctx, req);
    if (!user)
        return sendError(res, 401, "未登录");
    const KnobValues k = ctx.knobs.snapshot();
    // The studio takes a while to store a cover; the dialog shows "上传中" meanwhile.
    ctx.stopper.sleepFor(std::chrono::milliseconds(k.slowDialogs > 0 ? k.slowDialogs : 600));
    if (k.failCover)
        return sendError(res, 500, "封面上传失败");
    std::string error;
    const std::string id = ctx.uploads.addCover(*user, req.get_param_value("kind"), req.body, error);
    if (id.empty())
        return sendError(res, 400, error);
    sendJson(res, 200, "{\"id\":\"" + id + "\"}");
}

// What the form adds beside the title: tags, category and a publish time.
struct Metadata {
    std::vector<std::string> tags;
    std::vector<std::string> category;
    std::vector<long long> categoryIds;
    std::string scheduledAt; // "YYYY-MM-DDTHH:MM" local, empty for an immediate publish
};

constexpr long long kScheduleMinSeconds = 2 * 3600;
constexpr long long kScheduleMaxSeconds = 14 * 24 * 3600;
constexpr long long kScheduleSlackSeconds = 60;
constexpr std::size_t kMaxTags = 10;
constexpr std::size_t kMaxTagChars = 20;

std::size_t utf8Chars(const std::string &text)
{
    std::size_t n = 0;
    for (const unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

bool hasSpace(const std::string &text)
{
    for (const unsigned char c : text) {
        if (c == ' ' || (c >= '\t' && c <= '\r'))
            return true;
    }
    // No-break and ideographic spaces.
    return text.find("\xC2\xA0") != std::string::npos || text.find("\xE3\x80\x80") != std::string::npos;
}

// "YYYY-MM-DDTHH:MM" in the server's local time; false for any other shape
// and for a local time that does not exist.
bool parseLocalMinute(const std::string &text, std::time_t &out)
{
    static const char kShape[] = "dddd-dd-ddTdd:dd";
    if (text.size() != sizeof kShape - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kShape[i])
            return false;
    }
    const int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(5, 2)),
              day = std::stoi(text.substr(8, 2)), hour = std::stoi(text.substr(11, 2)), minute = std::stoi(text.substr(14, 2));
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    out = std::mktime(&tm);
    return out != -1 && tm.tm_year == year - 1900 && tm.tm_mon == month - 1 && tm.tm_mday == day
        && tm.tm_hour == hour && tm.tm_min == minute;
}

// Reads and checks the form's extra fields as the platform does; returns an
// error message for the client, empty when they are fine.
std::string readMetadata(const rapidjson::Document &d, bool draft, Metadata &out)
{
    auto strings = [&d](const char *key, std::vector<std::string> &into) {
        if (!d.HasMember(key))
            return true;
        if (!d[key].IsArray())
            return false;
        for (const auto &v : d[key].GetArray()) {
            if (!v.IsString())
                return false;
            into.emplace_back(v.GetString(), v.GetStringLength());
        }
        return true;
    };
    if (!strings("tags", out.tags) || out.tags.size() > kMaxTags)
        return "标签不合法";
    for (std::size_t i = 0; i < out.tags.size(); ++i) {
        const std::string &tag = out.tags[i];
        if (tag.empty() || !isValidUtf8(tag) || utf8Chars(tag) > kMaxTagChars || hasSpace(tag)
            || std::find(out.tags.begin(), out.tags.begin() + static_cast<long>(i), tag) != out.tags.begin() + static_cast<long>(i))
            return "标签不合法";
    }
    bool idsOk = !d.HasMember("category_ids") || d["category_ids"].IsArray();
    if (idsOk && d.HasMember("category_ids")) {
        for (const auto &v : d["category_ids"].GetArray()) {
            if (!v.IsInt64()) {
                idsOk = false;
                break;
            }
            out.categoryIds.push_back(v.GetInt64());
        }
    }
    if (!idsOk || !strings("category", out.category) || !validCategory(out.categoryIds, out.category))
        return "分类无效";
    // Drafts keep no publish time.
    if (draft || !d.HasMember("scheduled_at"))
        return {};
    if (!d["scheduled_at"].IsString())
        return "定时发布时间格式不正确";
    const std::string when(d["scheduled_at"].GetString(), d["scheduled_at"].GetStringLength());
    if (when.empty())
        return {};
    std::time_t at = 0;
    if (!parseLocalMinute(when, at))
        return "定时发布时间格式不正确";
    const long long ahead = static_cast<long long>(at) - static_cast<long long>(std::time(nullptr));
    if (ahead < kScheduleMinSeconds - kScheduleSlackSeconds || ahead > kScheduleMaxSeconds + kScheduleSlackSeconds)
        return "定时发布时间需在2小时后至14天内";
    out.scheduledAt = when;
    return {};
}

std::string ledgerLine(const std::string &user, const std::string &title, bool original, bool watermark,
                       bool sync, bool draft, const std::string &cover, const UploadRecord &up, const Metadata &meta)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("user"); w.String(user);
    w.Key("title"); w.String(title);
    w.Key("original"); w.Bool(original);
    w.Key("watermark"); w.Bool(watermark);
    w.Key("sync"); w.Bool(sync);
    w.Key("draft"); w.Bool(draft);
    w.Key("cover"); w.String(cover);
    w.Key("file_name"); w.String(up.fileName);
    w.Key("file_size"); w.Int64(up.size);
    w.Key("file_sha256"); w.String(up.sha256);
    w.Key("upload_id"); w.String(up.id);
    w.Key("tags");
    w.StartArray();
    for (const std::string &tag : meta.tags)
        w.String(tag);
    w.EndArray();
    w.Key("category");
    w.StartArray();
    for (const std::string &name : meta.category)
        w.String(name);
    w.EndArray();
    w.Key("category_ids");
    w.StartArray();
    for (const long long id : meta.categoryIds)
        w.Int64(id);
    w.EndArray();
    w.Key("scheduled_at"); w.String(meta.scheduledAt);
    w.Key("time"); w.String(nowText());
    // When its upload began and when it was published: several users'
    // uploads can be seen to overlap.
    w.Key("upload_began_ms"); w.Int64(up.beganMs);
    w.Key("published_ms");
    w.Int64(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    w.EndObject();
    return buffer.GetString();
}

void handlePublish(SimContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const auto user = currentUser(ctx, req);
    if (!user)
        return sendError(res, 401, "未登录");
    rapidjson::Document d;
    d.Parse(req.body.c_str(), req.body.size());
    if (d.HasParseError() || !d.IsObject())
        return sendError(res, 400, "bad request");
    auto text = [&d](const char *key) {
        return d.HasMember(key) && d[key].IsString() ? std::string(d[key].GetString(), d[key].GetStringLength())
                                                     : std::string();
    };
    auto flag = [&d](const char *key) { return d.HasMember(key) && d[key].IsBool() && d[key].GetBool(); };
    const std::string title = text("title");
    if (title.empty() || title.size() > 4000 || !isValidUtf8(title))
        return sendError(res, 400, "请填写标题");
    const bool draft = flag("draft");
    Metadata meta;
    if (const std::string bad = readMetadata(d, draft, meta); !bad.empty())
        return sendError(res, 400, bad);
    if (ctx.knobs.snapshot().failPublish)
        return sendError(res, 500, "系统繁忙，请稍后再试");
    std::string cover = "platform";
    if (!text("cover_id").empty()) {
        const auto kind = ctx.uploads.coverKind(*user, text("cover_id"));
        if (!kind)
            return sendError(res, 400, "封面无效");
        cover = *kind;
    }
    UploadRecord up;
    std::string error;
    if (!ctx.uploads.finished(*user, text("upload_id"), up, error))
        return sendError(res, 409, error);
    const bool original = flag("original");
    if (!ctx.published.append(
            ledgerLine(*user, title, original, original && flag("watermark"), flag("sync"), draft, cover, up, meta)))
        return sendError(res, 500, "保存失败");

    sendJson(res, 200, std::string("{\"ok\":true,\"location\":\"") + (draft ? kDraftLanding : kPublishedLanding) + "\"}");
}

} // namespace

void registerStudioRoutes(httplib::Server &server, SimContext &ctx)
{
    server.Get("/", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/upload"); });
    server.Get("/login", [&ctx](const httplib::Request &req, httplib::Response &res) { handleLogin(ctx, req, res); });
    server.Post("/login", [&ctx](const httplib::Request &req, httplib::Response &res) { handleLogin(ctx, req, res); });
    server.Get("/logout", [&ctx](const httplib::Request &req, httplib::Response &res) { handleLogout(ctx, req, res); });
    server.Get("/upload", [&ctx](const httplib::Request &req, httplib::Response &res) { handlePage(ctx, req, res, true); });
    server.Get("/content", [&ctx](const httplib::Request &req, httplib::Response &res) { handlePage(ctx, req, res, false); });
    server.Post("/api/upload/init",
                [&ctx](const httplib::Request &req, httplib::Response &res) { handleUploadInit(ctx, req, res); });
    server.Put("/api/upload/chunk",
               [&ctx](const httplib::Request &req, httplib::Response &res) { handleUploadChunk(ctx, req, res); });
    server.Post("/api/cover", [&ctx](const httplib::Request &req, httplib::Response &res) { handleCover(ctx, req, res); });
    server.Post("/api/publish",
                [&ctx](const httplib::Request &req, httplib::Response &res) { handlePublish(ctx, req, res); });
    server.Get("/api/categories", [&ctx](const httplib::Request &req, httplib::Response &res) {
        if (!currentUser(ctx, req))
            return sendError(res, 401, "未登录");
        sendJson(res, 200, categoriesJson());
    });
    server.Get("/api/whoami", [&ctx](const httplib::Request &req, httplib::Response &res) {
        const auto user = currentUser(ctx, req);
        if (!user)
            return sendError(res, 401, "未登录");
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("user");
        w.String(*user);
        w.EndObject();
        sendJson(res, 200, buffer.GetString());
    });
}

} // namespace studiosim
