#pragma once

#include "app/command_line.h"
#include "form/form.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "accounts/account_table.h"

class AccountCommands;
class Announcement;
class ServiceFormView;
class UpdateCheck;
class UploadJob;
class VersionWatch;
class GlobalHotKey;
class MainCommands;
#include "app/main_window.h"
#include "app/start_window.h"
class QTimer;

// The program from its entry to the main window, and its end.
class Application final : public QObject {
    Q_OBJECT
public:
    explicit Application(const CommandLine &commandLine, QObject *parent = nullptr);
    ~Application() override;

    // Creates and shows the start window; its timer runs the rest.
    void startUp();

    Form &mainForm() { return m_mainForm; }
    Form &startForm() { return m_startForm; }
    MainCommands &commands() { return *m_commands; }
    AccountTable &accountTable() { return m_accountTable; }
    AccountCommands &accountCommands() { return *m_accountCommands; }
    UploadJob &uploadJob() { return *m_job; }
    MainWindow *mainWindow() const { return m_mainWindow; }
    StartWindow *startWindow() const { return m_startWindow; }
    QString mainCaption() const { return m_mainCaption; }
    bool hotKeyRegistered() const;
    UpdateCheck &updateCheck() { return *m_updateCheck; }
    Announcement &announcement() { return *m_announcement; }
    VersionWatch &versionWatch() { return *m_versionWatch; }

    // Replaces how the process ends (tests keep the process alive).
    void setExitProcess(std::function<void()> exit);

signals:
    // The main window is up (shown, or ready in a headless run).
    void mainWindowReady();

private:
    void runStartTasks();
    void createMainWindow();
    void onMainWindowCreated();
    void showMainWindow();
    void toggleFromHotKey();
    // The 开始 command, however it is pressed (button, hot key, --start).
    void pressStartStop();
    void connectUploadJob();
    void connectServices();
    void onStartWindowClicked(const QString &name);
    // Runs a browser call of the window on a thread of its own; this thread
    // handles events meanwhile. A call while one runs is ignored.
    void runKeepingWindowLive(const char *what, std::function<void()> work);

    CommandLine m_commandLine;
    Form m_mainForm;
    Form m_startForm;
    AccountTable m_accountTable;
    std::unique_ptr<MainCommands> m_commands;
    std::unique_ptr<AccountCommands> m_accountCommands;
    std::unique_ptr<UploadJob> m_job;
    QPointer<StartWindow> m_startWindow;
    QPointer<MainWindow> m_mainWindow;
    GlobalHotKey *m_hotKey = nullptr;
    QTimer *m_startTimer = nullptr;
    QString m_mainCaption;
    bool m_settingsLoaded = false;
    bool m_browserCallRunning = false;
    bool m_startWaitsForLoad = false; // Start was pressed while the list loaded
    std::function<void()> m_exitProcess;
    // Last, so their threads end before the forms they write go away.
    std::unique_ptr<ServiceFormView> m_serviceView;
    std::unique_ptr<UpdateCheck> m_updateCheck;
    std::unique_ptr<Announcement> m_announcement;
    std::unique_ptr<VersionWatch> m_versionWatch;
};
