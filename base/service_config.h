#pragma once

#include <QString>
#include <QStringList>

// Where the program's services live and how browsers are started: deployment
// settings in data/services.ini under the run directory. A missing file or
// key means the default; the demo and the tests point them at the simulator.
struct ServiceConfig {
    // [studio] origin: scheme and host of the creator studio.
    QString studioOrigin = QStringLiteral("http://127.0.0.1:8721");
    // [browser] headless, extra_args (split like a command line).
    bool browserHeadless = false;
    QStringList browserExtraArgs;
    // [update] a, b, c: the three update server roots, probed in that order;
    // load() ends each with '/'.
    QString updateRootA = QStringLiteral("http://127.0.0.1:8721/u1/");
    QString updateRootB = QStringLiteral("http://127.0.0.1:8721/u2/");
    QString updateRootC = QStringLiteral("http://127.0.0.1:8721/u3/");
    // [quote] url: the daily quote service.
    QString quoteUrl = QStringLiteral("http://127.0.0.1:8721/quote/?encode=text");
    // [notify] host, target: the notification service for error reports. The
    // host may carry a scheme and a port; without a port the service's own
    // port 8899 is used. The target goes into the request unchanged.
    QString notifyHost = QStringLiteral("http://127.0.0.1:8721");
    QString notifyTarget = QStringLiteral("tolvar");
    // [lanes] min_free_mb: with several lanes, a browser starts only while
    // the system has this much memory available (MiB).
    int lanesMinFreeMb = 800;
    // [lanes] same_failure_stop: the run stops itself after this many
    // attempts in a row failed at the same step (0 = never).
    int lanesSameFailureStop = 6;
    // [alert] webhook, format, secret: where a message goes when an
    // unattended run needs a person (empty: nowhere); format is wecom,
    // dingtalk, feishu or json (anything else reads as json); the secret
    // signs a dingtalk address.
    QString alertWebhook;
    QString alertFormat = QStringLiteral("json");
    QString alertSecret;

    // [grid] url, user, password: the Selenium Grid's router (empty = none)
    // and its basic authentication when it asks for one.
    QString gridUrl;
    QString gridUser;
    QString gridPassword;
    // [grid] profile_root: on the nodes, the folder that holds the accounts'
    // profiles (tolvar<id> under it).
    QString gridProfileRoot;
    // [grid] video_root here and node_video_root there: one folder the nodes
    // share with this machine; a video under the one is handed to the node's
    // browser under the other.
    QString gridVideoRoot;
    QString gridNodeVideoRoot;
    // [grid] extra_args: appended to the node's browser's command line.
    QStringList gridExtraArgs;
    // [grid] new_session_s: how long a node's free slot is waited for.
    int gridNewSessionSeconds = 60;

    static QString path();
    // Reads data/services.ini; the file is read each time it is asked for.
    static ServiceConfig load();
};
