#pragma once

#include <QString>

#include <optional>

// Where an account's browser runs, member "浏览器" of its file: empty = a
// local browser on the pipe. Otherwise a DevTools endpoint the user runs
// (ws://host:port/devtools/browser/<id>, or http://host:port where the
// browser names its own WebSocket), or "grid:NODE", a Grid session pinned to
// that node.
struct AccountBrowser {
    enum Kind { Local, Endpoint, Grid };
    Kind kind = Local;
    QString endpoint; // Endpoint: as entered, with ws://, wss://, http:// or https://
    QString node;     // Grid: NODE of "grid:NODE"

    bool isLocal() const { return kind == Local; }
    // The text as stored: "", the endpoint, "grid:NODE".
    QString text() const;
    // What the list column shows: "" for local, the endpoint without its
    // user:password@ and its query (either may hold a token), "grid:NODE".
    QString columnText() const;

    // Empty text = local with an empty `why`. On a refused text `why` holds
    // the user's message and the result is local.
    static AccountBrowser parse(const QString &text, QString *why = nullptr);
};

namespace accounts {

// The account file member that says where the account's browser is.
inline QString browserMember() { return QStringLiteral("浏览器"); }
// The browser text of an account, read from its own file: "" when the file
// names none. nullopt (and the reason in `why`, also logged) when the file
// cannot be read or parsed: then nobody knows where the account's browser
// is, and it must never be taken for local.
std::optional<QString> browserTextOf(const QString &accountId, QString *why = nullptr);

} // namespace accounts
