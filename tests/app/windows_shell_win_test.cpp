// The shell services on Windows itself (run under Wine here): the hot key
// through RegisterHotKey, the hidden disclaimer marker in the documents
// folder, and the desktop link read back through the shell's link object.
#include "app/desktop_shortcut.h"
#include "app/disclaimer.h"
#include "app/hot_key.h"
#include "base/gbk.h"
#include "base/message_box.h"
#include "tests/support/test_support.h"
#include "tests/support/eventually.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

void sendKey(WORD key, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &input, sizeof(INPUT));
}

void pressCtrlAltK()
{
    sendKey(VK_CONTROL, false);
    sendKey(VK_MENU, false);
    sendKey('K', false);
    sendKey('K', true);
    sendKey(VK_MENU, true);
    sendKey(VK_CONTROL, true);
}

struct AnsweringPresenter final : messagebox::Presenter {
    messagebox::Answer show(const QString &, const QString &text, messagebox::Buttons) override
    {
        shown.append(text);
        return answer;
    }
    messagebox::Answer answer = messagebox::Answer::Ok;
    QStringList shown;
};

struct LinkContent {
    QString target, workingDirectory, arguments, iconFile, description;
    int iconIndex = -1;
    WORD hotKey = 0;
};

// Reads a .lnk back through the same shell object that wrote it.
bool readLink(const QString &path, LinkContent &out)
{
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW *link = nullptr;
    bool ok = SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void **>(&link)));
    if (ok) {
        IPersistFile *file = nullptr;
        ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
        if (ok) {
            ok = SUCCEEDED(file->Load(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), STGM_READ));
            file->Release();
        }
        if (ok) {
            wchar_t buffer[MAX_PATH * 2] = {};
            link->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
            out.target = QString::fromWCharArray(buffer);
            link->GetWorkingDirectory(buffer, MAX_PATH * 2);
            out.workingDirectory = QString::fromWCharArray(buffer);
            link->GetArguments(buffer, MAX_PATH * 2);
            out.arguments = QString::fromWCharArray(buffer);
            link->GetDescription(buffer, MAX_PATH * 2);
            out.description = QString::fromWCharArray(buffer);
            link->GetIconLocation(buffer, MAX_PATH * 2, &out.iconIndex);
            out.iconFile = QString::fromWCharArray(buffer);
            link->GetHotkey(&out.hotKey);
        }
        link->Release();
    }
    if (SUCCEEDED(init))
        ::CoUninitialize();
    return ok;
}

} // namespace

TEST(WindowsHotKey, CtrlAltKFromAnywhereActivatesOnceAndIsHeldByOneOwner)
{
    GlobalHotKey key;
    ASSERT_TRUE(key.registerKey());
    GlobalHotKey second;
    EXPECT_FALSE(second.registerKey()); // the system gives a hot key to one owner only
    QSignalSpy activated(&key, &GlobalHotKey::activated);
    pressCtrlAltK();
    ASSERT_EVENTUALLY_EQ(activated.count(), 1, 5000);
    // K alone, or with one modifier, is no hot key.
    sendKey(VK_CONTROL, false);
    sendKey('K', false);
    sendKey('K', true);
    sendKey(VK_CONTROL, true);
    QTest::qWait(300);
    EXPECT_EQ(activated.count(), 1);
    key.unregisterKey();
    pressCtrlAltK();
    QTest::qWait(300);
    EXPECT_EQ(activated.count(), 1);
    EXPECT_TRUE(second.registerKey()); // free again once released
}

TEST(WindowsDisclaimer, TheMarkerIsAHiddenGbkFileInTheDocumentsFolder)
{
    const QString marker = disclaimer::markerPath();
    const QString documents = QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    EXPECT_EQ(marker, documents + QStringLiteral("\\tvbq.dll"));
    QFile::setPermissions(marker, QFile::ReadOwner | QFile::WriteOwner);
    ::SetFileAttributesW(reinterpret_cast<const wchar_t *>(marker.utf16()), FILE_ATTRIBUTE_NORMAL);
    QFile::remove(marker);

    AnsweringPresenter presenter;
    messagebox::setPresenter(&presenter);
    presenter.answer = messagebox::Answer::Cancel;
    disclaimer::acceptDisclaimer();
    EXPECT_FALSE(QFileInfo::exists(marker));
    presenter.answer = messagebox::Answer::Ok;
    disclaimer::acceptDisclaimer();
    messagebox::setPresenter(nullptr);
    ASSERT_TRUE(QFileInfo::exists(marker));
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(marker.utf16()));
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(gbk::decode(testsupport::readAll(marker)).startsWith(QStringLiteral("用户已阅读并同意以下免责声明。\r\n免责声明：")));
    // Accepted once: never asked again.
    AnsweringPresenter again;
    messagebox::setPresenter(&again);
    disclaimer::acceptDisclaimer();
    messagebox::setPresenter(nullptr);
    EXPECT_TRUE(again.shown.isEmpty());
    ::SetFileAttributesW(reinterpret_cast<const wchar_t *>(marker.utf16()), FILE_ATTRIBUTE_NORMAL);
    QFile::remove(marker);
}

TEST(WindowsShortcut, TheLinkReadsBackThroughTheShellLinkObject)
{
    testsupport::TempRunDir run;
    QDir().mkpath(run.file("程序 目录"));
    const QString target = QDir::toNativeSeparators(run.file("程序 目录/tolvar.exe"));
    ASSERT_TRUE(testsupport::writeAll(target, "MZ"));
    ShortcutRequest r;
    r.name = QStringLiteral("Tolvar测试链接");
    r.target = target;
    r.arguments = QStringLiteral("--run-dir \"D:\\数据 目录\"");
    r.description = QStringLiteral("批量发布");
    r.hotKey = QStringLiteral("CTRL+ALT+K");
    const QString path = shortcut::desktopLinkPath(r.name);
    EXPECT_EQ(QFileInfo(path).absolutePath(), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    ASSERT_TRUE(createDesktopShortcut(r));
    ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    LinkContent link;
    ASSERT_TRUE(readLink(path, link));
    EXPECT_EQ(link.target, target);
    EXPECT_EQ(link.workingDirectory, QDir::toNativeSeparators(run.file("程序 目录/")));
    EXPECT_EQ(link.arguments, r.arguments);
    EXPECT_EQ(link.description, r.description);
    EXPECT_EQ(link.iconFile, target);
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.hotKey, static_cast<WORD>(((HOTKEYF_CONTROL | HOTKEYF_ALT) << 8) | 'K'));

    // Made again with a target without extension: the shell's own icon.
    r.target = QDir::toNativeSeparators(run.file("程序 目录/tolvar"));
    ASSERT_TRUE(createDesktopShortcut(r));
    ASSERT_TRUE(readLink(path, link));
    EXPECT_EQ(link.target, r.target);
    EXPECT_EQ(link.iconFile, QStringLiteral("SHELL32.dll"));
    EXPECT_EQ(link.iconIndex, 4);
    QFile::remove(path);
}
