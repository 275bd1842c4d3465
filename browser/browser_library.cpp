#include "browser/browser_library.h"

#include "browser/browser_discovery.h"
#include "browser/browser_library_private.h"
#include "browser/cdp_params.h"
#include "browser/log.h"
#include "browser/page_scripts.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// How long an element operation waits for its element to become actionable.
constexpr qint64 kActionableWaitMs = 2000;

std::string utf8(const QString &text)
{
    return text.toStdString();
}

QString stringValue(const rapidjson::Value *value)
{
    if (!value || !value->IsString())
        return {};
    return QString::fromUtf8(value->GetString(), static_cast<qsizetype>(value->GetStringLength()));
}

std::string member(const rapidjson::Value &object, const char *name)
{
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString(), it->value.GetStringLength())
                                                            : std::string();
}

// Why a call that got no usable answer failed.
ElementStatus statusOfError(const std::string &error)
{
    if (error == "closed" || error == "target closed")
        return ElementStatus::PageClosed;
    if (error == "target crashed")
        return ElementStatus::TargetCrashed;
    if (error == "timeout")
        return ElementStatus::TimedOut;
    return ElementStatus::Failed;
}

void tell(ElementStatus *status, ElementStatus value)
{
    if (status)
        *status = value;
}

bool isGone(const std::string &error)
{
    return error == "closed" || error == "target closed" || error == "target crashed";
}

} // namespace

const char *elementStatusText(ElementStatus status)
{
    switch (status) {
    case ElementStatus::Ok: return "ok";
    case ElementStatus::NoMatch: return "no match";
    case ElementStatus::NotActionable: return "not actionable";
    case ElementStatus::PageClosed: return "page closed";
    case ElementStatus::TimedOut: return "call timed out";
    case ElementStatus::TargetCrashed: return "target crashed";
    case ElementStatus::Failed: return "failed";
    }
    return "failed";
}

BrowserLibrary::BrowserLibrary() : d(std::make_unique<BrowserLibraryPrivate>()) {}

BrowserLibrary::~BrowserLibrary() = default;

BrowserLibrary &BrowserLibrary::instance()
{
    static BrowserLibrary *shared = new BrowserLibrary;
    return *shared;
}

int BrowserLibrary::form_global_init(const QString &browserPath, PageEventCallback onPageEvent)
{
    const QString found = browserPath.isEmpty() ? browserdiscovery::findInstalledBrowser()
                                                : (browserdiscovery::isExecutableFile(browserPath) ? browserPath : QString());
    std::lock_guard lock(d->m_mutex);
    if (onPageEvent)
        d->m_onPageEvent = std::move(onPageEvent);
    if (found.isEmpty()) {
        if (browserPath.isEmpty())
            qCWarning(lcBrowser) << "no Chrome, Edge or Chromium found in the usual places";
        else
            qCWarning(lcBrowser) << "the browser path" << browserPath << "is not an executable file";
        return 0;
    }
    d->m_browserPath = QFileInfo(found).absoluteFilePath();
    return 1;
}

QString BrowserLibrary::browserPath() const
{
    std::lock_guard lock(d->m_mutex);
    return d->m_browserPath;
}

void BrowserLibrary::setCallTimeoutMs(int milliseconds)
{
    d->m_callTimeoutMs = qMax(1, milliseconds);
}

int BrowserLibrary::form_browser_start(const QString &startUrl, const BrowserStartOptions &options)
{
    return d->launch(startUrl, options);
}

int BrowserLibrary::form_browser_attach(const QString &startUrl, const RemoteBrowser &remote, const BrowserStartOptions &options)
{
    return d->attachRemote(startUrl, remote, options);
}

StartedBrowsers BrowserLibrary::form_connect_started()
{
    d->reapDead();
    StartedBrowsers out;
    for (const auto &browser : d->browsers()) {
        if (browser->alive)
            out.browserIds << browser->id;
    }
    for (const auto &page : d->pages()) {
        if (form_page_isactive(page->id))
            out.pageIds << page->id;
    }
    return out;
}

QList<qint64> BrowserLibrary::browserProcessIds() const
{
    QList<qint64> out;
    for (const auto &browser : d->browsers()) {
        if (browser->alive)
            out << browser->connection->processId();
    }
    return out;
}

QString BrowserLibrary::profileOfPage(int pageId) const
{
    const auto page = d->page(pageId);
    return page ? page->browser->profile : QString();
}

int BrowserLibrary::browserOfPage(int pageId) const
{
    const auto page = d->page(pageId);
    return page ? page->browser->id : 0;
}

bool BrowserLibrary::form_active_page(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, false))
        return false;
    return ref.browser->connection
        ->call("Target.activateTarget", CdpParams().text("targetId", ref.page->targetId).json(), {}, d->m_callTimeoutMs)
        .ok;
}

int BrowserLibrary::form_page_isactive(int pageId)
{
    PageRef ref;
    return d->resolve(pageId, ref, false) && ref.browser->connection->isOpen() ? 1 : 0;
}

QString BrowserLibrary::form_get_html(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, true))
        return {};
    return stringValue(BrowserLibraryPrivate::evaluatedValue(d->evaluate(ref, pagescripts::html())));
}

// From the browser's target list: answers even while the page is busy.
QString BrowserLibrary::form_get_page_url(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, false))
        return {};
    const CdpReply reply = ref.browser->connection->call(
        "Target.getTargetInfo", CdpParams().text("targetId", ref.page->targetId).json(), {}, d->m_callTimeoutMs);
    const auto info = reply.result().FindMember("targetInfo");
    if (!reply.ok || info == reply.result().MemberEnd() || !info->value.IsObject())
        return {};
    return QString::fromStdString(member(info->value, "url"));
}

bool BrowserLibrary::form_forward_url(int pageId, const QString &url)
{
    PageRef ref;
    if (url.isEmpty() || !d->resolve(pageId, ref, true))
        return false;
    const CdpReply reply = ref.browser->connection->call("Page.navigate", CdpParams().text("url", utf8(url)).json(),
                                                         ref.sessionId, d->m_callTimeoutMs);
    const std::string errorText = member(reply.result(), "errorText");
    if (reply.ok && !errorText.empty())
        qCWarning(lcBrowser).noquote() << "page" << pageId << "could not load" << url << "--" << QString::fromStdString(errorText);
    return reply.ok && errorText.empty();
}

bool BrowserLibrary::form_set_window_title(int pageId, const QString &title)
{
    PageRef ref;
    return d->resolve(pageId, ref, true) && d->evaluate(ref, pagescripts::setTitle(utf8(title))).ok;
}

int BrowserLibrary::form_dom_isexist(int pageId, const QString &selector, ElementStatus *status)
{
    PageRef ref;
    tell(status, ElementStatus::Failed);
    if (selector.isEmpty())
        return 0;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return 0;
    }
    const CdpReply reply = d->evaluate(ref, pagescripts::exists(utf8(selector)));
    const rapidjson::Value *value = BrowserLibraryPrivate::evaluatedValue(reply);
    const bool found = value && value->IsBool() && value->GetBool();
    tell(status, !reply.ok ? statusOfError(reply.error) : found ? ElementStatus::Ok : ElementStatus::NoMatch);
    return found ? 1 : 0;
}

bool BrowserLibrary::form_dom_click(int pageId, const QString &selector, int index, ElementStatus *status)
{
    PageRef ref;
    const int offset = pagescripts::matchOffset(index);
    tell(status, ElementStatus::Failed);
    if (selector.isEmpty() || offset < 0)
        return false;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return false;
    }
    // As a person would: only once the element can take the click, at the
    // point where it would land. One protocol round trip per poll; each poll
    // compares the box from one animation frame to the next, or across a
    // timer tick in a page that is not in view (it gets no frames). The page is not brought to the
    // front: that would take the screen from whatever the user is looking at,
    // and trusted mouse events reach a page behind other tabs all the same.
    const std::string script = pagescripts::actionablePoint(utf8(selector), offset);
    QElapsedTimer waited;
    waited.start();
    std::string why = "no answer";
    double x = 0, y = 0;
    for (;;) {
        const CdpReply reply = d->evaluate(ref, script, true, true);
        const rapidjson::Value *value = BrowserLibraryPrivate::evaluatedValue(reply);
        if (!reply.ok && isGone(reply.error)) {
            tell(status, statusOfError(reply.error));
            return false;
        }
        why = value && value->IsObject() ? member(*value, "s") : reply.error;
        if (why == "ok" && value->HasMember("x") && (*value)["x"].IsNumber() && (*value)["y"].IsNumber()) {
            x = (*value)["x"].GetDouble();
            y = (*value)["y"].GetDouble();
            break;
        }
        // No match at all: the caller's own loop polls for the element.
        if (why == "no such element" || waited.elapsed() >= kActionableWaitMs) {
            qCDebug(lcBrowser).noquote() << "click:" << selector << "match" << index << "on page" << pageId << "not clicked after"
                                         << waited.elapsed() << "ms:" << QString::fromStdString(why);
            tell(status, why == "no such element" ? ElementStatus::NoMatch
                         : reply.ok               ? ElementStatus::NotActionable
                                                  : statusOfError(reply.error));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    // Move, press and release go out together, as one round trip; the browser
    // hands them to the page in that order.
    const auto mouse = [&](const char *type, bool button) {
        CdpParams p;
        p.text("type", type).number("x", x).number("y", y);
        if (button)
            p.text("button", "left").integer("clickCount", 1);
        return CdpConnection::Call{"Input.dispatchMouseEvent", p.json()};
    };
    const qint64 found = waited.elapsed();
    const std::vector<CdpReply> replies = ref.browser->connection->callAll(
        {mouse("mouseMoved", false), mouse("mousePressed", true), mouse("mouseReleased", true)}, ref.sessionId, d->m_callTimeoutMs);
    const bool clicked = std::all_of(replies.begin(), replies.end(), [](const CdpReply &r) { return r.ok; });
    qCDebug(lcBrowser).noquote() << "click:" << selector << "match" << index << "on page" << pageId << "actionable after" << found
                                 << "ms, pressed after" << waited.elapsed() << "ms";
    if (clicked)
        tell(status, ElementStatus::Ok);
    else
        tell(status, statusOfError(std::find_if(replies.begin(), replies.end(), [](const CdpReply &r) { return !r.ok; })->error));
    return clicked;
}

bool BrowserLibrary::waitEditable(PageRef &ref, int pageId, const QString &selector, int index, int offset, ElementStatus *status)
{
    const std::string script = pagescripts::editableState(utf8(selector), offset);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const CdpReply reply = d->evaluate(ref, script);
        const rapidjson::Value *value = BrowserLibraryPrivate::evaluatedValue(reply);
        const std::string state = value && value->IsString() ? std::string(value->GetString(), value->GetStringLength()) : reply.error;
        if (state == "ok")
            return true;
        if (!reply.ok && isGone(reply.error)) {
            tell(status, statusOfError(reply.error));
            return false;
        }
        if (state == "no such element" || waited.elapsed() >= kActionableWaitMs) {
            qCDebug(lcBrowser).noquote() << "input:" << selector << "match" << index << "on page" << pageId << "--" << QString::fromStdString(state);
            tell(status, state == "no such element" ? ElementStatus::NoMatch
                         : reply.ok                 ? ElementStatus::NotActionable
                                                    : statusOfError(reply.error));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
}

QString BrowserLibrary::form_dom_gettext(int pageId, const QString &selector, int index, ElementStatus *status)
{
    PageRef ref;
    const int offset = pagescripts::matchOffset(index);
    tell(status, ElementStatus::Failed);
    if (selector.isEmpty() || offset < 0)
        return {};
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return {};
    }
    const CdpReply reply = d->evaluate(ref, pagescripts::text(utf8(selector), offset));
    const rapidjson::Value *value = BrowserLibraryPrivate::evaluatedValue(reply);
    // The script answers null when nothing matches.
    tell(status, !reply.ok ? statusOfError(reply.error) : value && !value->IsNull() ? ElementStatus::Ok : ElementStatus::NoMatch);
    return stringValue(value);
}

bool BrowserLibrary::form_dom_setvalue(int pageId, const QString &selector, const QString &value, int index, ElementStatus *status)
{
    PageRef ref;
    const int offset = pagescripts::matchOffset(index);
    tell(status, ElementStatus::Failed);
    if (selector.isEmpty() || offset < 0)
        return false;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return false;
    }
    if (!waitEditable(ref, pageId, selector, index, offset, status))
        return false;
    const CdpReply reply = d->evaluate(ref, pagescripts::setValue(utf8(selector), offset, utf8(value)));
    const rapidjson::Value *done = BrowserLibraryPrivate::evaluatedValue(reply);
    const bool set = done && done->IsBool() && done->GetBool();
    if (!set)
        qCDebug(lcBrowser) << "set value:" << selector << "match" << index << "is not on page" << pageId;
    tell(status, set ? ElementStatus::Ok : reply.ok ? ElementStatus::NoMatch : statusOfError(reply.error));
    return set;
}

bool BrowserLibrary::form_dom_input(int pageId, const QString &selector, const QString &text, int index, ElementStatus *status)
{
    PageRef ref;
    const int offset = pagescripts::matchOffset(index);
    tell(status, ElementStatus::Failed);
    if (selector.isEmpty() || offset < 0)
        return false;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return false;
    }
    if (!waitEditable(ref, pageId, selector, index, offset, status))
        return false;
    const CdpReply reply = d->evaluate(ref, pagescripts::focusForInput(utf8(selector), offset));
    const rapidjson::Value *focused = BrowserLibraryPrivate::evaluatedValue(reply);
    if (!focused || !focused->IsBool() || !focused->GetBool()) {
        qCDebug(lcBrowser) << "input:" << selector << "match" << index << "is not on page" << pageId << "or takes no focus";
        tell(status, reply.ok ? ElementStatus::NotActionable : statusOfError(reply.error));
        return false;
    }
    if (text.isEmpty()) {
        tell(status, ElementStatus::Ok);
        return true;
    }
    const CdpReply typed = ref.browser->connection->call("Input.insertText", CdpParams().text("text", utf8(text)).json(), ref.sessionId,
                                                         d->m_callTimeoutMs);
    tell(status, typed.ok ? ElementStatus::Ok : statusOfError(typed.error));
    return typed.ok;
}

bool BrowserLibrary::typeAndConfirm(int pageId, const QString &selector, int index, const QStringList &texts, ElementStatus *status)
{
    if (!form_dom_input(pageId, selector, QString(), index, status))
        return false;
    PageRef ref;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return false;
    }
    // Text, Enter down, Enter up for each, in one round trip: the browser
    // hands them to the page in that order, and the page's own handler
    // takes each text before the next arrives.
    std::vector<CdpConnection::Call> calls;
    for (const QString &text : texts) {
        calls.push_back({"Input.insertText", CdpParams().text("text", utf8(text)).json()});
        for (const char *type : {"keyDown", "keyUp"}) {
            CdpParams p;
            p.text("type", type).text("key", "Enter").text("code", "Enter").integer("windowsVirtualKeyCode", 13).integer("nativeVirtualKeyCode", 13);
            if (std::string(type) == "keyDown")
                p.text("text", "\r");
            calls.push_back({"Input.dispatchKeyEvent", p.json()});
        }
    }
    const std::vector<CdpReply> replies = ref.browser->connection->callAll(calls, ref.sessionId, d->m_callTimeoutMs);
    const auto failed = std::find_if(replies.begin(), replies.end(), [](const CdpReply &r) { return !r.ok; });
    tell(status, failed == replies.end() ? ElementStatus::Ok : statusOfError(failed->error));
    return failed == replies.end();
}

bool BrowserLibrary::form_upload_file(int pageId, int ordinal, const QString &path)
{
    return uploadFileTo(pageId, QStringLiteral("input[type=file]"), ordinal, path);
}

bool BrowserLibrary::uploadFileTo(int pageId, const QString &selector, int index, const QString &path, ElementStatus *status)
{
    PageRef ref;
    const int offset = pagescripts::matchOffset(index);
    const QFileInfo file(path);
    tell(status, ElementStatus::Failed);
    // The page would accept a missing file and the upload would never start.
    if (!file.isFile()) {
        qCWarning(lcBrowser) << "upload: no file" << path;
        return false;
    }
    if (selector.isEmpty() || offset < 0)
        return false;
    if (!d->resolve(pageId, ref, true)) {
        tell(status, ElementStatus::PageClosed);
        return false;
    }
    const CdpReply found = d->evaluate(ref, pagescripts::element(utf8(selector), offset), false);
    const auto remote = found.result().FindMember("result");
    if (!found.ok || remote == found.result().MemberEnd() || !remote->value.IsObject()) {
        tell(status, statusOfError(found.error));
        return false;
    }
    const std::string objectId = member(remote->value, "objectId");
    if (objectId.empty()) {
        qCWarning(lcBrowser) << "upload: page" << pageId << "has no file input" << selector << "number" << index;
        tell(status, ElementStatus::NoMatch);
        return false;
    }
    const std::string absolute = utf8(file.absoluteFilePath());
    const CdpReply set = ref.browser->connection->call("DOM.setFileInputFiles", CdpParams().texts("files", {absolute}).text("objectId", objectId).json(),
                                                       ref.sessionId, d->m_callTimeoutMs);
    ref.browser->connection->post("Runtime.releaseObject", CdpParams().text("objectId", objectId).json(), ref.sessionId);
    tell(status, set.ok ? ElementStatus::Ok : statusOfError(set.error));
    return set.ok;
}

// Dialog events need the Page domain on every session of the browser.
bool BrowserLibrary::form_js_dialog_overwrite(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, true))
        return false;
    ref.browser->autoDialogs = true;
    bool ok = true;
    for (const auto &page : d->pages()) {
        PageRef other;
        if (page->browser == ref.browser && d->resolve(page->id, other, true))
            ok = ref.browser->connection->call("Page.enable", {}, other.sessionId, d->m_callTimeoutMs).ok && ok;
    }
    return ok;
}

bool BrowserLibrary::form_close_browser(int pageId)
{
    const auto page = d->page(pageId);
    if (!page) {
        qCInfo(lcBrowser) << "close: page" << pageId << "is unknown or its browser is closed already";
        return false;
    }
    d->closeBrowser(page->browser, 3000);
    return true;
}

bool BrowserLibrary::form_browser_close(int browserId)
{
    const auto browser = d->browser(browserId);
    if (!browser) {
        qCInfo(lcBrowser) << "close: browser" << browserId << "is unknown or closed already";
        return false;
    }
    qCInfo(lcBrowser) << "closing browser" << browserId << "on" << browser->profile;
    d->closeBrowser(browser, 3000);
    return true;
}

bool BrowserLibrary::dropRemoteBrowser(int browserId)
{
    const auto browser = d->browser(browserId);
    if (!browser || !browser->remote)
        return false;
    qCWarning(lcBrowser) << "dropping the connection to browser" << browserId << "on" << browser->profile;
    browser->connection->drop();
    return true;
}

QString BrowserLibrary::evaluateScript(int pageId, const QString &expression)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, true))
        return {};
    const CdpReply reply = d->evaluate(ref, utf8(expression));
    const rapidjson::Value *value = BrowserLibraryPrivate::evaluatedValue(reply);
    if (!value)
        return reply.ok ? QStringLiteral("null") : QString();
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value->Accept(writer);
    return QString::fromUtf8(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

QByteArray BrowserLibrary::captureScreenshot(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, true))
        return {};
    const CdpReply reply = ref.browser->connection->call("Page.captureScreenshot", CdpParams().text("format", "png").json(), ref.sessionId,
                                                         d->m_callTimeoutMs);
    const std::string data = member(reply.result(), "data");
    if (!reply.ok || data.empty())
        return {};
    return QByteArray::fromBase64(QByteArray::fromStdString(data));
}

// The fields of the DevTools version endpoint, from Browser.getVersion. There is
// no debugging port, so there is no debugger address to give.
QString BrowserLibrary::form_get_version(int pageId)
{
    PageRef ref;
    if (!d->resolve(pageId, ref, false))
        return {};
    const CdpReply reply = ref.browser->connection->call("Browser.getVersion", {}, {}, d->m_callTimeoutMs);
    if (!reply.ok)
        return {};
    const rapidjson::Value &r = reply.result();
    const std::string userAgent = member(r, "userAgent");
    std::string webkit;
    const std::size_t at = userAgent.find("AppleWebKit/");
    if (at != std::string::npos) {
        const std::size_t from = at + 12;
        webkit = userAgent.substr(from, userAgent.find(' ', from) - from);
        const std::string revision = member(r, "revision");
        if (!revision.empty())
            webkit += " (" + revision + ")";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    const auto put = [&writer](const char *key, const std::string &value) {
        writer.Key(key);
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    put("Browser", member(r, "product"));
    put("Protocol-Version", member(r, "protocolVersion"));
    put("User-Agent", userAgent);
    put("V8-Version", member(r, "jsVersion"));
    put("WebKit-Version", webkit);
    put("webSocketDebuggerUrl", std::string());
    writer.EndObject();
    return QString::fromUtf8(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}
