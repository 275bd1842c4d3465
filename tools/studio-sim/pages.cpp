#include "pages.h"

#include "categories.h"
#include "sim_util.h"

namespace studiosim {

namespace {

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

// The shared header, split around the user name so that the upload page's
// redesign can rename its classes without ever touching the name.
constexpr const char *kHeaderBeforeName =
    "<header class=\"topbar\">"
    "<div class=\"topbar__logo\">创作服务平台</div>"
    "<ul class=\"topbar__nav\"><li><a href=\"/upload\">首页</a></li>"
    "<li><a href=\"/content?tab=video\">内容管理</a></li><li><a href=\"/upload\">数据中心</a></li></ul>"
    "<button type=\"button\" class=\"m-button red topbar__publish\" "
    "onclick=\"location.href='/upload'\">发布视频</button>"
    "<div class=\"user-info\"><span class=\"user-info__avatar\"></span>"
    "<span class=\"user-info__username\">";
constexpr const char *kHeaderAfterName = "</span></div></header>";

std::string header(const std::string &user)
{
    return kHeaderBeforeName + htmlEscape(user) + kHeaderAfterName;
}

// The upload page as the studio's redesign serves it. It is derived from the
// classic page's texts at serving time, so the two designs share one flow
// (same script, same requests, same dialogs) and never diverge.
//
// One ordered table serves markup, style and script alike. Each entry is
// written in the context it may match in (a class attribute, a quoted
// selector, a style rule, an element's text), so that words such as
// `res.status`, `setStatus` or `undefined` are left alone. A plain entry
// matches only a whole class name (no letter, digit, '-' or '_' next to it);
// a prefix entry renames every class that starts with it.
struct Rename {
    const char *from;
    const char *to;
    bool prefix;
};

const Rename kRedesign[] = {
    // Whole class lists first, before their members are renamed one by one.
    {"m-button red undefined", "ui-btn red confirm", false},
    {"btn-l btn-sure ml16", "dialog-btn dialog-btn--ok", false},
    {"m-quorl-upload", "cover-picker", true}, // with its --done modifier
    {"byte-", "semi-", true},
    {"m-button", "ui-btn", true}, // m-button-text too
    {"cannot-click", "is-disabled", false},
    {"btn-sure", "dialog-btn--ok", false},
    {"btn-cancel", "dialog-btn--cancel", false},
    {"btn-l", "dialog-btn", false},
    {"video-form-item-wrapper", "form-field", false},
    {"js-submit-draft-0", "publish-draft", false},
    {"js-submit-0", "publish-submit", false},
    // Short names that also occur as script words: only in selector context.
    {"class=\"percent\"", "class=\"upload-meter__value\"", false},
    {"'.percent'", "'.upload-meter__value'", false},
    {".percent {", ".upload-meter__value {", false},
    {"class=\"status\"", "class=\"upload-meter__state\"", false},
    {"'.status'", "'.upload-meter__state'", false},
    {".status {", ".upload-meter__state {", false},
    // Texts.
    {"id=\"cover-box\">上传封面<", "id=\"cover-box\">选择封面<", false},
    {"\"cover-tabs__item\">上传封面<", "\"cover-tabs__item\">本地上传<", false},
    {"点击上传或将视频文件拖入此区域", "拖拽视频到这里，或点击上传", false},
    {"sure.textContent = '上传中'", "sure.textContent = '处理中'", false},
    {">存草稿<", ">暂存草稿<", false},
};

bool isClassChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::string redesigned(std::string text)
{
    for (const Rename &r : kRedesign) {
        const std::string from = r.from;
        const std::string to = r.to;
        // An edge of `from` that lies inside a class name must meet the end of that name.
        const bool checkBefore = isClassChar(from.front());
        const bool checkAfter = !r.prefix && isClassChar(from.back());
        for (std::size_t pos = text.find(from); pos != std::string::npos;) {
            const std::size_t end = pos + from.size();
            if ((checkBefore && pos > 0 && isClassChar(text[pos - 1]))
                || (checkAfter && end < text.size() && isClassChar(text[end]))) {
                pos = text.find(from, pos + 1);
                continue;
            }
            text.replace(pos, from.size(), to);
            pos = text.find(from, pos + to.size());
        }
    }
    return text;
}

// The redesign shows the cover section (its label and the cover row with the
// box and its file input) at the top of <main>, before the upload card: the
// cover input becomes the document's first file input.
std::string coverFirst(std::string html)
{
    const std::size_t label = html.find("<div class=\"form-label\">封面</div>");
    const std::size_t input = html.find("id=\"cover-input\"", label);
    const std::size_t rowEnd = html.find("</div>", input);
    const std::size_t main = html.find("<main class=\"main\">");
    if (label == std::string::npos || input == std::string::npos || rowEnd == std::string::npos
        || main == std::string::npos || main > label)
        return html;
    // Whole lines: from the label's indentation to the row's line break.
    const std::size_t from = html.rfind('\n', label) + 1;
    const std::size_t to = html.find('\n', rowEnd) + 1;
    const std::string block = html.substr(from, to - from);
    html.erase(from, to - from);
    html.insert(html.find('\n', main) + 1, block);
    return html;
}

struct UploadTexts {
    std::string html;
    std::string css;
    std::string js;
    std::string headerBeforeName;
};

const UploadTexts &uploadTexts(bool redesign)
{
    static const UploadTexts classic {kUploadHtml, kPageCss, kUploadJs, kHeaderBeforeName};
    static const UploadTexts redone {redesigned(coverFirst(kUploadHtml)), redesigned(kPageCss), redesigned(kUploadJs),
                                     redesigned(kHeaderBeforeName)};
    return redesign ? redone : classic;
}

std::string document(const std::string &title, const std::string &body)
{
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" + title
        + "</title><style>" + kPageCss + "</style></head><body>" + body + "</body></html>\n";
}

} // namespace

std::string loginPage(const std::string &error)
{
    std::string body = "<form class=\"login-card\" method=\"get\" action=\"/login\">"
                       "<div class=\"modal__title\">登录创作服务平台</div>";
    if (!error.empty())
        body += "<div class=\"login-error\">" + htmlEscape(error) + "</div>";
    body += "<input class=\"login-name\" name=\"name\" placeholder=\"昵称\" maxlength=\"32\" autofocus>"
            "<button class=\"m-button red login-submit\" type=\"submit\">登录</button></form>";
    return document("登录 - 创作服务平台", body);
}

std::string uploadPage(const std::string &user, const std::string &configJson, bool redesign)
{
    const UploadTexts &t = uploadTexts(redesign);
    std::string page = t.html;
    // The script goes in last so that text it carries is never taken for a placeholder.
    replaceAll(page, "{{STYLE}}", t.css);
    replaceAll(page, "{{HEADER}}", t.headerBeforeName + htmlEscape(user) + kHeaderAfterName);
    replaceAll(page, "{{CATEGORY_TREE}}", categoryTreeHtml());
    replaceAll(page, "{{CONFIG}}", configJson);
    replaceAll(page, "{{SCRIPT}}", t.js);
    return page;
}

std::string contentPage(const std::string &user, const std::string &tab, const std::vector<ContentRow> &rows, long long listDelayMs)
{
    const bool drafts = tab == "draft";
    std::string body = header(user) + "<div class=\"main\"><div class=\"content-card\">"
        "<div class=\"content-tabs\"><a href=\"/content?tab=video\"" + std::string(drafts ? "" : " class=\"active\"")
        + ">已发布</a><a href=\"/content?tab=draft\"" + (drafts ? " class=\"active\"" : "") + ">草稿箱</a></div>"
        + "<div class=\"content-list\"><div class=\"content-loading\">加载中…</div></div><template id=\"content-list\">";
    if (rows.empty()) {
        body += "<div class=\"content-empty\">暂无作品</div>";
    } else {
        body += "<table class=\"content-table\"><tr><th>标题</th><th>文件</th><th>封面</th><th>时间</th></tr>";
        for (const auto &r : rows) {
            body += "<tr class=\"content-item\"><td class=\"content-item__title\">" + htmlEscape(r.title) + "</td><td>"
                + htmlEscape(r.fileName) + "</td><td>" + htmlEscape(r.cover) + "</td><td>" + htmlEscape(r.time)
                + "</td></tr>";
        }
        body += "</table>";
    }
    body += "</template></div></div><script>setTimeout(function () {"
        "var list = document.querySelector('.content-list');"
        "list.replaceChildren(document.getElementById('content-list').content.cloneNode(true));"
        "}, " + std::to_string(listDelayMs) + ");</script>";
    return document(drafts ? "草稿箱 - 创作服务平台" : "作品管理 - 创作服务平台", body);
}

} // namespace studiosim
