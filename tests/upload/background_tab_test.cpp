// A studio tab the user has put behind another tab gets no animation frames
// from the browser. The job must still click its way through to the publish.
// This needs a browser with a window: headed Chromium on the X server of the
// session, or on an Xvfb of its own when there is none.
#include "tests/upload/e2e_fixture.h"

#include "browser/browser_library.h"
#include "upload/browser_session.h"
#include "upload/job_state.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace {

bool displayAnswers(const QByteArray &display)
{
    if (display.isEmpty())
        return false;
    QProcess probe;
    probe.start(QStringLiteral("xdpyinfo"), {QStringLiteral("-display"), QString::fromLatin1(display)});
    return probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

// DISPLAY for the test's browsers: the session's own X server, else a
// private Xvfb on a display number it picks itself, stopped at the end.
class XDisplay final {
public:
    XDisplay() : m_saved(qgetenv("DISPLAY")), m_hadDisplay(qEnvironmentVariableIsSet("DISPLAY"))
    {
        if (displayAnswers(m_saved)) {
            m_ready = true;
            return;
        }
        m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_xvfb.waitForStarted(5000)) {
            m_why = "Xvfb did not start (scripts/setup-debian.sh installs it)";
            return;
        }
        QByteArray number;
        while (!number.contains('\n') && m_xvfb.waitForReadyRead(10000))
            number += m_xvfb.readAllStandardOutput();
        const QByteArray display = ':' + number.trimmed();
        if (number.trimmed().isEmpty() || !displayAnswers(display)) {
            m_why = "Xvfb named no display that answers";
            return;
        }
        qputenv("DISPLAY", display);
        m_ready = true;
    }
    ~XDisplay()
    {
        if (m_xvfb.state() == QProcess::NotRunning)
            return;
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
        if (m_hadDisplay)
            qputenv("DISPLAY", m_saved);
        else
            qunsetenv("DISPLAY");
    }
    bool ready() const { return m_ready; }
    const char *why() const { return m_why; }

private:
    QProcess m_xvfb;
    QByteArray m_saved;
    bool m_hadDisplay = false;
    bool m_ready = false;
    const char *m_why = "";
};

} // namespace

TEST_F(UploadE2eTest, AStudioTabBehindAnotherTabStillPublishesOnTheFirstAttempt)
{
    XDisplay x;
    ASSERT_TRUE(x.ready()) << x.why();
    // A slow upload (a few seconds): the other tab comes up while it runs,
    // before the cover.
    startSimulator({"--upload-kbps", "2"});
    const QString folder = addAccount("100", "zhou", m_run.file("videos/z"));
    makeClip(folder + "/behind.mp4");
    const QString ini = QStringLiteral("[studio]\norigin=%1\n[browser]\nheadless=false\nextra_args=--no-sandbox --disable-gpu --disable-quic "
                                       "--disable-background-networking --disable-component-update --disable-sync\n")
                            .arg(m_sim->origin());
    testsupport::writeAll(m_run.file("data/services.ini"), ini.toUtf8());
    m_form.setText("编辑框_单账号上传", "1");
    BrowserLibrary &library = BrowserLibrary::instance();
    std::atomic<int> studio{0}; // read by the job's thread too
    const auto hidden = [&] { return library.evaluateScript(studio, "document.visibilityState") == "\"hidden\""; };
    QList<bool> results;
    bool behindToTheEnd = false;
    // On the job's thread as the video ends, while its browser is still open.
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool ok) {
        results.append(ok);
        behindToTheEnd = hidden();
    }, Qt::DirectConnection);
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);

    pressStartStop();
    for (int poll = 0; poll < 600; ++poll) {
        const int page = currentPageId;
        if (page > 0 && library.form_dom_gettext(page, ".status") == QStringLiteral("上传中")) {
            studio = page;
            break;
        }
        QTest::qWait(100);
    }
    ASSERT_GT(studio.load(), 0) << "the upload never got under way";
    // The user opens a tab of their own in front of the studio's, in the same window.
    BrowserStartOptions sameProfile;
    sameProfile.profileDirectory = BrowserSession::profileDirectory("100");
    ASSERT_GT(library.form_browser_start(QStringLiteral("about:blank"), sameProfile), 0);
    for (int poll = 0; poll < 50 && !hidden(); ++poll)
        QTest::qWait(100);
    EXPECT_TRUE(hidden());
    EXPECT_EQ(library.form_dom_gettext(studio, ".m-quorl-upload"), QStringLiteral("上传封面")); // the cover is still to come

    ASSERT_TRUE(done.wait(120000));
    EXPECT_EQ(results, QList<bool>{true});
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("title").toString(), "behind");
    EXPECT_TRUE(behindToTheEnd); // nothing brought it to the front
    closeAllBrowsers(); // before their X server goes
}
