#pragma once

#include "form/command_registry.h"

#include <QString>

#include <functional>

// The commands of the main window that need no widget: they act on the
// `Form` and the run directory, so tests and headless runs drive them by
// clicking controls of the form. The other folders add their own commands.
class MainCommands final : public CommandRegistry {
    Q_OBJECT
public:
    explicit MainCommands(Form &form, QObject *parent = nullptr);

    // Window hooks: hide the window, unregister the hot key, end the process.
    void setHideWindow(std::function<void()> hook) { m_hideWindow = std::move(hook); }
    void setUnregisterHotKey(std::function<void()> hook) { m_unregisterHotKey = std::move(hook); }
    void setExitProcess(std::function<void()> hook) { m_exitProcess = std::move(hook); }
    void setOpenFolder(std::function<void(const QString &)> hook) { m_openFolder = std::move(hook); }

    void saveSettingsCommand();
    void applyRecommendedSettings();
    void chooseMoveUsedVideos();
    void closeCommand();
    // The window is being destroyed (close box, SIGINT/SIGTERM in headless runs).
    void destroyHandling();

private:
    void onChanged(const QString &name);
    // 标签4: how many titles the library 编辑框3 holds.
    void showLibrarySize();

    std::function<void()> m_hideWindow;
    std::function<void()> m_unregisterHotKey;
    std::function<void()> m_exitProcess;
    std::function<void(const QString &)> m_openFolder;
    bool m_ending = false;
};
