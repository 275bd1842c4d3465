#include "browser/browser_version.h"

#include "base/gbk.h"
#include "browser/browser_library.h"
#include "browser/json_document.h"

QString readBrowserVersion(BrowserLibrary &library, int pageId, BrowserVersionInfo &info)
{
    const QString answer = library.form_get_version(pageId);
    if (answer.isEmpty())
        return {};
    JsonDocument document;
    if (document.parseText(answer.toUtf8())) {
        const auto read = [&document](const char *name) { return gbk::decode(document.getText(QString::fromLatin1(name))); };
        info.browser = read("Browser");
        info.engineVersion = read("V8-Version");
        info.userAgent = read("User-Agent");
        info.protocolVersion = read("Protocol-Version");
        info.webkitVersion = read("WebKit-Version");
        info.debuggerAddress = read("webSocketDebuggerUrl");
    }
    return answer;
}

QString browserVersionLabelText(const BrowserVersionInfo &info, const QString &programVersion)
{
    return QStringLiteral("浏览器版本：") + info.browser + QStringLiteral("\r\nV8引擎版本：") + info.engineVersion
         + QStringLiteral("\r\nUA：") + info.userAgent + QStringLiteral("\r\n协议版本：") + info.protocolVersion
         + QStringLiteral("\r\nwebkit版本：") + info.webkitVersion + QStringLiteral("\r\n软件版本：") + programVersion;
}
