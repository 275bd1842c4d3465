#include "pages.h"

#include "sim_util.h"

namespace studiosim {

namespace {

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

std::string header(const std::string &user)
{
    return "<header class=\"topbar\">"
           "<div class=\"topbar__logo\">创作服务平台</div>"
           "<ul class=\"topbar__nav\"><li><a href=\"/upload\">首页</a></li>"
           "<li><a href=\"/content?tab=video\">内容管理</a></li><li><a href=\"/upload\">数据中心</a></li></ul>"
           "<button type=\"button\" class=\"m-button red topbar__publish\" "
           "onclick=\"location.href='/upload'\">发布视频</button>"
           "<div class=\"user-info\"><span class=\"user-info__avatar\"></span>"
           "<span class=\"user-info__username\">"
        + htmlEscape(user) + "</span></div></header>";
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

std::string uploadPage(const std::string &user, const std::string &configJson)
{
    std::string page = kUploadHtml;
    // The script goes in last so that text it carries is never taken for a placeholder.
    replaceAll(page, "{{STYLE}}", kPageCss);
    replaceAll(page, "{{HEADER}}", header(user));
    replaceAll(page, "{{CONFIG}}", configJson);
    replaceAll(page, "{{SCRIPT}}", kUploadJs);
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
