#include "app/desktop_shortcut_platform.h"

#include "app/log.h"

#include <QDir>
#include <QStringList>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

namespace shortcut {

namespace {
// "CTRL+ALT+K" as the shell link stores it: modifiers in the high byte, the
// virtual key in the low byte. An unknown text gives no hot key.
WORD parseHotKey(const QString &text)
{
    WORD modifiers = 0;
    WORD key = 0;
    for (const QString &part : text.toUpper().split(u'+', Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (p == u"CTRL")
            modifiers |= HOTKEYF_CONTROL;
        else if (p == u"ALT")
            modifiers |= HOTKEYF_ALT;
        else if (p == u"SHIFT")
            modifiers |= HOTKEYF_SHIFT;
        else if (p.size() == 1 && (p[0].isLetterOrNumber()))
            key = p[0].unicode();
        else if (p.size() >= 2 && p[0] == u'F')
            key = static_cast<WORD>(VK_F1 + p.mid(1).toInt() - 1);
        else
            return 0;
    }
    return key ? static_cast<WORD>((modifiers << 8) | key) : 0;
}

std::wstring wide(const QString &text)
{
    return QDir::toNativeSeparators(text).toStdWString();
}
} // namespace

bool writeLink(const QString &linkPath, const ShortcutRequest &request, const QString &workingDirectory, const QString &icon)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW *link = nullptr;
    const bool made = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                                 reinterpret_cast<void **>(&link)));
    if (made) {
        link->SetPath(wide(request.target).c_str());
        link->SetWorkingDirectory(wide(workingDirectory).c_str());
        const qsizetype comma = icon.lastIndexOf(u',');
        const QString iconFile = comma < 0 ? icon : icon.left(comma);
        const int iconIndex = comma < 0 ? 0 : icon.mid(comma + 1).toInt();
        link->SetIconLocation(iconFile.toStdWString().c_str(), iconIndex);
        link->SetShowCmd(request.windowStyle);
        link->SetDescription(request.description.toStdWString().c_str());
        link->SetArguments(request.arguments.toStdWString().c_str());
        link->SetHotkey(parseHotKey(request.hotKey));
        IPersistFile *file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
            // A failed save is not reported to the caller, as with the
            // scripting object; the log keeps it.
            const HRESULT saved = file->Save(wide(linkPath).c_str(), TRUE);
            if (FAILED(saved))
                qCWarning(lcApp) << "saving the shortcut" << linkPath << "failed: HRESULT" << Qt::hex << static_cast<quint32>(saved);
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    if (!made)
        qCWarning(lcApp) << "the shell gave no link object for" << linkPath;
    return made;
}

} // namespace shortcut
