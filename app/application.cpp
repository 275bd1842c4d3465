#include "app/application.h"

#include "accounts/account_commands.h"
#include "accounts/account_list_view.h"
#include "app/desktop_shortcut.h"
#include "app/disclaimer.h"
#include "app/hot_key.h"
#include "app/log.h"
#include "app/main_commands.h"
#include "app/main_window.h"
#include "app/restart.h"
#include "app/service_form_view.h"
#include "app/settings_file.h"
#include "app/skin.h"
#include "app/start_window.h"
#include "app/termination_signals.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "base/time_scale.h"
#include "base/version.h"
#include "browser/browser_library.h"
#include "browser/browser_version.h"
#include "form/window_layout.h"
#include "runlog/run_log.h"
#include "service/announcement.h"
#include "service/fatal_error_handler.h"
#include "service/update_check.h"
#include "service/version_watch.h"
#include "studio/studio_source.h"
#include "upload/job_state.h"
#include "upload/page_check.h"
#include "upload/category_choice.h"
#include "upload/upload_job.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
// 3 once a run stopped itself after attempts in a row failed the same way.
std::atomic<int> g_exitCode{0};

void endProcessNow()
{
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef Q_OS_WIN
    // No DLL detach code runs after the other threads were killed: the
    // process ends at once, as the older program's did.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(g_exitCode.load()));
#endif
    std::_Exit(g_exitCode);
}
} // namespace

Application::Application(const CommandLine &commandLine, QObject *parent)
    : QObject(parent)
    , m_commandLine(commandLine)
    , m_exitProcess(endProcessNow)
{
    declareControls(m_mainForm, mainWindowLayout());
    declareControls(m_startForm, startWindowLayout());
    m_commands = std::make_unique<MainCommands>(m_mainForm);
    m_commands->setExitProcess([this] { m_exitProcess(); });
    m_commands->setOpenFolder([](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    m_commands->setHideWindow([this] {
        if (m_mainWindow)
            m_mainWindow->hide();
    });
    m_commands->setUnregisterHotKey([this] {
        if (m_hotKey)
            m_hotKey->unregisterKey();
    });
    m_accountCommands = std::make_unique<AccountCommands>(m_mainForm, m_accountTable, *m_commands);
    m_accountCommands->setOpenFolder([](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); });
    m_accountCommands->setOpenUrl([](const QString &url) { QDesktopServices::openUrl(QUrl(url)); });
    if (!m_commandLine.headless) {
        m_accountCommands->setPickFolder([this] {
            return QFileDialog::getExistingDirectory(m_mainWindow, QStringLiteral("请选择一个文件夹"), rundir::path());
        });
    }
    connectUploadJob();
    connectServices();
    auto *termination = new TerminationSignals(this);
    connect(termination, &TerminationSignals::terminationRequested, this, [this] {
        // Before the settings were read the controls hold design defaults:
        // saving them would replace the user's file.
        if (m_settingsLoaded) {
            m_commands->destroyHandling();
        } else {
            qCInfo(lcApp) << "termination requested before the settings were read: ending without saving them";
            m_exitProcess();
        }
    });
}

Application::~Application()
{
    // The windows are views of the two forms and hold pointers to them:
    // they go first. (Left behind, a later style change or event would
    // write through those pointers into freed memory.)
    delete m_mainWindow;
    delete m_startWindow;
}

void Application::setExitProcess(std::function<void()> exit)
{
    m_exitProcess = std::move(exit);
}

bool Application::hotKeyRegistered() const
{
    return m_hotKey && m_hotKey->isRegistered();
}

void Application::startUp()
{
    if (!m_commandLine.headless) {
        // Before the first window, so every window and message box wears it.
        skin::attachSkin(0, 0);
        m_startWindow = new StartWindow(m_startForm);
        m_startWindow->setWindowTitle(messagebox::applicationTitle());
        // Destroying the start window ends the program without saving:
        // the settings may not even have been read yet.
        connect(m_startWindow, &StartWindow::closeRequested, this, [this] { m_exitProcess(); });
        m_startWindow->show();
    }
    m_startTimer = new QTimer(this);
    m_startTimer->setSingleShot(true);
    m_startTimer->setTimerType(Qt::PreciseTimer);
    connect(m_startTimer, &QTimer::timeout, this, &Application::runStartTasks);
    m_startTimer->start(static_cast<int>(timescale::scaled(1000)));
}

void Application::runStartTasks()
{
    m_startTimer->stop();
    runlog::appendRunLog(QStringLiteral("启动窗口创建完毕"));
    studio::StudioDescriptions::instance().reload();
    fatalerror::installFatalErrorHandler();
    fatalerror::reportPreviousCrash();
    disclaimer::acceptDisclaimer();
    runlog::appendRunLog(QStringLiteral("启动窗口线程"));
    m_updateCheck->start();
    m_announcement->start();
    createMainWindow();
    showMainWindow();
}

void Application::createMainWindow()
{
    if (!m_commandLine.headless) {
        m_mainWindow = new MainWindow(m_mainForm);
        connect(m_mainWindow, &MainWindow::closeRequested, this, [this] { m_commands->destroyHandling(); });
        new AccountListView(*m_mainWindow->accountView(), m_accountTable, *m_accountCommands);
    }
    onMainWindowCreated();
}

void Application::onMainWindowCreated()
{
    settings::settingsDataPath();
    QDir().mkpath(rundir::join(u"data/list"));
    m_mainForm.setText(QStringLiteral("编辑框_随机封面目录"), rundir::join(u"img"));
    settings::loadSettings(m_mainForm);
    m_settingsLoaded = true;
    m_mainCaption = messagebox::applicationTitle() + QStringLiteral("v") + QString::fromLatin1(kVersionText)
        + QStringLiteral("          按键盘 Ctrl + Alt + K  可以快速开始或停止");
    if (m_mainWindow)
        m_mainWindow->setWindowTitle(m_mainCaption);
    m_accountCommands->loadAllAccountsInBackground();
    m_job->session().initBrowserLibrary();
    m_mainForm.setText(QStringLiteral("标签15"), rundir::path() + QDir::separator());
    m_versionWatch->start();
    if (!m_commandLine.headless) {
        m_hotKey = new GlobalHotKey(this);
        connect(m_hotKey, &GlobalHotKey::activated, this, &Application::toggleFromHotKey);
        m_hotKey->registerKey();
    }
}

void Application::connectUploadJob()
{
    m_job = std::make_unique<UploadJob>(m_mainForm, m_accountTable, BrowserLibrary::instance());
    m_job->setLanesOverride(m_commandLine.lanes);
    m_job->session().setScreenSize([] {
        const QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? screen->size() : QSize(1920, 1080);
    });
    m_commands->addCommand(QStringLiteral("开始"), [this] { pressStartStop(); });
    connect(m_accountCommands.get(), &AccountCommands::loadFinished, this, [this] {
        if (!m_startWaitsForLoad)
            return;
        m_startWaitsForLoad = false;
        qCInfo(lcApp) << "the account list has loaded: the Start pressed meanwhile goes ahead";
        m_job->startStopJob();
    });
    m_commands->addCommand(QStringLiteral("按钮11"), [this] {
        runKeepingWindowLive("reading the browser version", [this] {
            BrowserVersionInfo info;
            // The job's page, else the newest page the program has open (a
            // login window, which never becomes the job's page).
            int page = currentPageId;
            const QList<int> pages = BrowserLibrary::instance().form_connect_started().pageIds;
            if (page <= 0 && !pages.isEmpty())
                page = pages.last();
            readBrowserVersion(BrowserLibrary::instance(), page, info);
            m_mainForm.setText(QStringLiteral("标签_版本"), browserVersionLabelText(info, QString::fromLatin1(kVersionText)));
        });
    });
    m_commands->addCommand(QStringLiteral("按钮_检测发布页面"), [this] {
        // Never beside a run: the check would take over a lane's page.
        if (m_job->isRunning()) {
            m_mainForm.setPartText(QStringLiteral("状态条1"), 1, QStringLiteral("正在发布，停止后再检测发布页面"));
            return;
        }
        runKeepingWindowLive("checking the upload page", [this] {
            const PageCheckResult check = checkUploadPage(m_job->session(), m_accountTable, BrowserLibrary::instance(), 0);
            m_mainForm.setPartText(QStringLiteral("状态条1"), 1, check.message);
        });
    });
    m_commands->addCommand(QStringLiteral("按钮4"), [this] {
        if (m_job->isRunning()) {
            m_mainForm.setPartText(QStringLiteral("状态条1"), 1, QStringLiteral("正在发布，停止后再刷新分类"));
            return;
        }
        runKeepingWindowLive("reading the studio's categories", [this] {
            const QList<pageparts::Category> tree = readStudioCategories(m_job->session(), m_accountTable, BrowserLibrary::instance(), std::max(currentRow.load(), 0));
            if (tree.isEmpty()) {
                m_mainForm.setPartText(QStringLiteral("状态条1"), 1, QStringLiteral("未能读取分类，请确认账号已登录"));
                return;
            }
            categories::keepTree(tree);
            categories::fillFirstLevel(m_mainForm, tree);
            m_mainForm.setPartText(QStringLiteral("状态条1"), 1, QStringLiteral("分类已刷新：%1个一级分类").arg(tree.size()));
        });
    });
    m_accountCommands->setOpenUploadPage([this](int row, const QString &id) {
        // A login window is the user's, whether a run is going or about to
        // start: it never becomes the job's page.
        runKeepingWindowLive("opening the upload page", [this, row, id] { m_job->session().openLoginWindow(row, id); });
    });
    if (m_commandLine.headless) {
        // One line per account, per video start and per result.
        connect(m_job.get(), &UploadJob::accountStarted, this, [](int row, const QString &id) {
            std::printf("account %d (id %s)\n", row + 1, qUtf8Printable(id));
            std::fflush(stdout);
        });
        connect(m_job.get(), &UploadJob::videoStarted, this, [](int row, const QString &path) {
            std::printf("video start: account %d: %s\n", row + 1, qUtf8Printable(path));
            std::fflush(stdout);
        });
        connect(m_job.get(), &UploadJob::videoFinished, this,
                [](int row, const QString &path, bool ok, qint64 wallMs, qint64 waitMs, qint64 runWallMs, qint64 runWaitMs) {
            std::printf("video %s: account %d: %s (%.2f s, %.2f s of it prescribed waits; run so far %.2f s, %.2f s of it prescribed waits)\n",
                        ok ? "published" : "failed (上传失败)", row + 1, qUtf8Printable(path), wallMs / 1000.0, waitMs / 1000.0,
                        runWallMs / 1000.0, runWaitMs / 1000.0);
            std::fflush(stdout);
        });
    }
    if (m_commandLine.headless) {
        // Nobody watches a headless run: it ends, with its own exit code,
        // once every lane has unwound.
        const auto endWith = [this](int code) {
            return [this, code](const QString &message) {
                std::printf("run stopped: %s\n", qUtf8Printable(message));
                std::fflush(stdout);
                g_exitCode = code;
                auto *poll = new QTimer(this);
                connect(poll, &QTimer::timeout, this, [this, poll] {
                    if (m_job->isRunning())
                        return;
                    poll->stop();
                    m_commands->destroyHandling();
                });
                poll->start(100);
            };
        };
        connect(m_job.get(), &UploadJob::stoppedByRepeatedFailures, this, endWith(3), Qt::QueuedConnection);
        // A redesigned page stops the run before any video.
        connect(m_job.get(), &UploadJob::stoppedByPageCheck, this, endWith(4), Qt::QueuedConnection);
    }
    if (m_commandLine.headless || m_commandLine.exitWhenDone) {
        connect(m_job.get(), &UploadJob::finishedByItself, this, [this](qint64 wallMs, qint64 waitMs) {
            std::printf("run finished (%.2f s, %.2f s of it prescribed waits)\n", wallMs / 1000.0, waitMs / 1000.0);
            std::fflush(stdout);
            if (m_commandLine.exitWhenDone)
                m_commands->destroyHandling();
        });
    }
}

void Application::runKeepingWindowLive(const char *what, std::function<void()> work)
{
    // A browser start can take half a minute: the browser calls run on a
    // thread of their own while this thread goes on handling events, so the
    // window repaints and its buttons respond. One at a time: a second click
    // meanwhile would start a second browser on the same profile.
    if (m_browserCallRunning) {
        qCInfo(lcApp) << "ignored" << what << "-- a browser call of the window is still running";
        return;
    }
    m_browserCallRunning = true;
    QEventLoop loop;
    QThread *thread = QThread::create(std::move(work));
    thread->setObjectName(QStringLiteral("browser-call"));
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
    m_browserCallRunning = false;
}

void Application::connectServices()
{
    ServiceFormView::hideUpdateControls(m_startForm);
    m_serviceView = std::make_unique<ServiceFormView>(m_startForm, m_mainForm);
    const ServiceConfig config = ServiceConfig::load();
    m_updateCheck = std::make_unique<UpdateCheck>(*m_serviceView, config);
    // The new version comes with its own link; the old one would start the old program.
    m_updateCheck->setRemoveDesktopLink([] { createDesktopShortcut(messagebox::applicationTitle(), QString()); });
    // Opening the new version destroys the start window, which ends the
    // program without saving (the new copy may already be reading them).
    m_updateCheck->setEndProgram([this] { m_exitProcess(); });
    m_announcement = std::make_unique<Announcement>(*m_serviceView, config);
    m_versionWatch = std::make_unique<VersionWatch>(*m_serviceView, config);
    connect(&m_startForm, &Form::clicked, this, &Application::onStartWindowClicked);
    m_commands->addCommand(QStringLiteral("按钮1"), [this] { restart::restartProgram(0, m_exitProcess); });
}

void Application::onStartWindowClicked(const QString &name)
{
    if (name == u"超级按钮_打开") {
        m_updateCheck->openNewVersion();
    } else if (name == u"图片框_广告") {
        const QString tag = m_startForm.tag(name);
        if (tag.left(4) == u"http")
            QDesktopServices::openUrl(QUrl(tag));
        else if (!tag.isEmpty())
            messagebox::show(tag);
    }
}

void Application::pressStartStop()
{
    // A run works on the list it finds: started before the list has loaded
    // (--start, or a quick hand, with many account files or a cold disk), it
    // would see no accounts at all and go back to account 1. Such a Start
    // waits for the load; a second press meanwhile takes it back, as Stop
    // would. Stop always acts at once.
    if (m_mainForm.text(QStringLiteral("开始")) == QStringLiteral("开始") && m_accountCommands->isLoading()) {
        m_startWaitsForLoad = !m_startWaitsForLoad;
        qCInfo(lcApp) << (m_startWaitsForLoad ? "Start pressed while the account list loads: it waits for the load"
                                              : "Start pressed again while waiting for the account list: the start is withdrawn");
        return;
    }
    m_job->startStopJob();
}

void Application::toggleFromHotKey()
{
    m_mainForm.click(QStringLiteral("开始"));
}

void Application::showMainWindow()
{
    if (m_startWindow)
        m_startWindow->hide();
    m_mainForm.setCurrentPage(QStringLiteral("选择夹1"), 0);
    if (m_mainWindow) {
        m_mainWindow->move(50, 50);
        m_mainWindow->show();
    }
    emit mainWindowReady();
    if (m_commandLine.start)
        m_mainForm.click(QStringLiteral("开始"));
}
