// Round trips of our DevTools client against puppeteer-core on the same
// headless Chromium, one after the other in one run. Prints the medians and
// the ratio ours / puppeteer-core (lower is better).
#include "browser/browser_library.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

const char *const kPage = "data:text/html,<p id=t>hello</p><button id=b onclick='window.clicks=(window.clicks||0)+1'>go</button>";

double medianMicros(int count, const std::function<bool()> &op)
{
    for (int i = 0; i < 50; ++i)
        op();
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!op())
            return -1;
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool measureOurs(const QString &browser, int count, double &evaluateUs, double &textUs, double &clickUs)
{
    QTemporaryDir profile;
    BrowserLibrary lib;
    int page = 0;
    if (!lib.form_global_init(browser, [&page](int p, int, int event) { if (event == PageOpened && page == 0) page = p; }))
        return false;
    BrowserStartOptions options;
    options.profileDirectory = profile.path();
    options.headless = true;
    options.extraArgs = {"--no-sandbox", "--disable-gpu", "--disable-quic", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync"};
    if (lib.form_browser_start(QString::fromLatin1(kPage), options) <= 0)
        return false;
    for (int i = 0; i < 250 && lib.form_dom_isexist(page, "#t") != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    evaluateUs = medianMicros(count, [&] { return lib.evaluateScript(page, "1") == QLatin1String("1"); });
    textUs = medianMicros(count, [&] { return lib.form_dom_gettext(page, "#t") == QLatin1String("hello"); });
    clickUs = medianMicros(count, [&] { return lib.form_dom_click(page, "#b"); });
    const bool everyClickLanded = lib.evaluateScript(page, "window.clicks") == QString::number(count + 50);
    lib.form_close_browser(page);
    return evaluateUs > 0 && textUs > 0 && clickUs > 0 && everyClickLanded;
}

bool measurePuppeteer(const QString &script, const QString &browser, int count, double &evaluateUs, double &textUs)
{
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"), {script, browser, QString::number(count), QString::fromLatin1(kPage)});
    if (!node.waitForFinished(600000) || node.exitCode() != 0)
        return false;
    const QJsonObject figures = QJsonDocument::fromJson(node.readAllStandardOutput().trimmed().split('\n').last()).object();
    evaluateUs = figures.value(QStringLiteral("evaluate_us")).toDouble(-1);
    textUs = figures.value(QStringLiteral("text_us")).toDouble(-1);
    return evaluateUs > 0 && textUs > 0;
}

bool measurePlaywright(const QString &script, const QString &browser, int count, double &clickUs)
{
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"), {script, browser, QString::number(count), QString::fromLatin1(kPage)});
    if (!node.waitForFinished(600000) || node.exitCode() != 0)
        return false;
    const QJsonObject figures = QJsonDocument::fromJson(node.readAllStandardOutput().trimmed().split('\n').last()).object();
    clickUs = figures.value(QStringLiteral("click_us")).toDouble(-1);
    return clickUs > 0 && figures.value(QStringLiteral("clicks")).toInt() == count + 50;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString script = args.value(1, QStringLiteral(TOLVAR_BENCH_SCRIPT));
    const QString browser = args.value(2, QStringLiteral("/usr/bin/chromium"));
    const int count = args.value(3, QStringLiteral("1000")).toInt();

    double ourEval = 0, ourText = 0, ourClick = 0, theirEval = 0, theirText = 0, theirClick = 0;
    if (!measureOurs(browser, count, ourEval, ourText, ourClick)) {
        std::fprintf(stderr, "our library could not drive %s\n", qPrintable(browser));
        return 1;
    }
    if (!measurePuppeteer(script, browser, count, theirEval, theirText)) {
        std::fprintf(stderr, "puppeteer-core run failed (run bench/browser/run.sh to install it)\n");
        return 1;
    }
    const QString playwright = QFileInfo(script).absolutePath() + QStringLiteral("/playwright_bench.mjs");
    if (!measurePlaywright(playwright, browser, count, theirClick)) {
        std::fprintf(stderr, "playwright-core run failed (run bench/browser/run.sh to install it)\n");
        return 1;
    }
    std::printf("median round trip over %d calls, microseconds\n", count);
    std::printf("%-22s %10s %16s %8s\n", "operation", "ours", "puppeteer-core", "ratio");
    std::printf("%-22s %10.1f %16.1f %7.2fx\n", "evaluate constant", ourEval, theirEval, ourEval / theirEval);
    std::printf("%-22s %10.1f %16.1f %7.2fx\n", "element text read", ourText, theirText, ourText / theirText);
    std::printf("%-22s %10s %16s %8s\n", "operation", "ours", "playwright-core", "ratio");
    std::printf("%-22s %10.1f %16.1f %7.2fx\n", "actionable click", ourClick, theirClick, ourClick / theirClick);
    std::printf("goal: ours <= 0.80x on each\n");
    return 0;
}
