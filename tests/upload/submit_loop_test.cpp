// The submit loop against a page of our own whose draft button lands on the
// published address: only the draft address ends the loop.
#include "accounts/account_table.h"
#include "form/form.h"
#include "form/window_layout.h"
#include "browser/browser_library.h"
#include "tests/support/test_support.h"
#include "upload/browser_session.h"
#include "upload/elapsed_ticker.h"
#include "upload/upload_pipeline.h"
#include "upload/job_state.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(SubmitLoop, InDraftModeThePublishedAddressDoesNotEndTheLoop)
{
    httplib::Server server;
    std::atomic<int> presses{0};
    server.Get("/upload", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(R"(<html><body><div id="js-submit-draft-0"><button onclick="location.href='/content?tab=video&investigation_param=cover_edited'">存草稿</button></div></body></html>)",
                        "text/html; charset=utf-8");
    });
    server.Get("/content", [&presses](const httplib::Request &, httplib::Response &res) {
        ++presses;
        res.set_content(R"(<html><body><div id="js-submit-draft-0"><button onclick="location.href='/content?tab=video&investigation_param=cover_edited'">存草稿</button></div></body></html>)",
                        "text/html; charset=utf-8");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);

    testsupport::TempRunDir run;
    Form form;
    declareControls(form, mainWindowLayout());
    form.setChecked("选择框_保存草稿", true);
    AccountTable table;
    table.appendRow({"1"});
    currentRow = 0;
    BrowserLibrary &lib = BrowserLibrary::instance();
    ASSERT_NE(lib.form_global_init({}, &BrowserSession::onPageEvent), 0);
    QTemporaryDir profile;
    BrowserStartOptions options;
    options.profileDirectory = profile.path();
    options.headless = true;
    options.extraArgs = QStringList{"--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync"};
    ASSERT_NE(lib.form_browser_start(origin + "/upload", options), 0);
    // A start's page events never make a page the job's; the job takes the page itself.
    EXPECT_EQ(currentPageId.load(), 0);
    ASSERT_EQ(lib.form_connect_started().pageIds.size(), 1);
    currentPageId = lib.form_connect_started().pageIds[0];
    // A fresh profile can take a while to show its first page on a busy machine;
    // the loop below must not spend its time limit on that.
    QElapsedTimer loading;
    loading.start();
    while (lib.form_dom_isexist(currentPageId, "#js-submit-draft-0 > button") != 1 && loading.elapsed() < 30000)
        QThread::msleep(50);
    ASSERT_EQ(lib.form_dom_isexist(currentPageId, "#js-submit-draft-0 > button"), 1);

    BrowserSession session(form, table, lib);
    UploadPipeline pipeline(form, lib, session, origin);
    giveUpSeconds = 60;
    elapsedSeconds = 0;
    bool result = true;
    std::thread job([&] {
        auto ticker = ElapsedTicker::start(table, 0);
        result = pipeline.submitVideo();
        ticker->stop();
    });
    job.join();
    EXPECT_FALSE(result);
    // The press had an effect (the address changed): it is never repeated,
    // since each confirmed press would publish once more.
    EXPECT_EQ(presses.load(), 1);
    EXPECT_EQ(lib.form_page_isactive(currentPageId), 0); // the limit closed the page
    server.stop();
    serving.join();
}
