#pragma once

// Internal to net/: one HTTP/1.1 exchange over libcurl that carries exactly
// the request headers it is given, plus Host and the body's length. libcurl's
// own additions (Accept, a form Content-Type, Expect, Proxy-Connection) are
// switched off unless the caller's lines name them.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <curl/curl.h>

#include <memory>

namespace net::detail {

// Initialises libcurl once per process; false when it cannot be used.
bool curlReady();

struct CurlHandleDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlHandleDeleter>;
// A new easy handle, or null when libcurl cannot give one.
CurlHandle newCurlHandle();

// The verb of a method number 0..7 (GET, POST, HEAD, PUT, OPTIONS, DELETE,
// TRACE, CONNECT); any other number is GET.
int clampMethod(int method);
QByteArray verbOf(int method);

// The URL as libcurl takes it: UTF-8, with spaces, control characters and
// non-ASCII bytes percent-escaped.
QByteArray urlBytes(QStringView url);
// True for an absolute http or https URL with a host.
bool isHttpUrl(const QByteArray &url);
bool isHttpsUrl(const QByteArray &url);

// Header text on the wire: one byte per character when every character fits
// in Latin-1 (so bytes a server sent round-trip unchanged), GBK otherwise.
QByteArray headerBytes(QStringView text);
// The wire line for a header name and value. An empty value keeps the header
// with nothing after the colon.
QByteArray headerLine(QStringView name, QStringView value);

// Request header lines as libcurl takes them; frees itself.
class HeaderList final {
public:
    explicit HeaderList(const QList<QByteArray> &lines = {});
    ~HeaderList();
    HeaderList(const HeaderList &) = delete;
    HeaderList &operator=(const HeaderList &) = delete;
    void append(const QByteArray &line);
    curl_slist *get() const { return m_list; }

private:
    curl_slist *m_list = nullptr;
};

// Sorts the lines libcurl hands to a header callback. Only the first line of
// a head is a status line; a blank line ends the head, and what follows is a
// new head (after an interim 1xx answer or a redirect hop) or trailers. A line
// inside a head that merely begins with "HTTP/" is a header line.
class HeadLines final {
public:
    enum class Kind { Status, Header, End };
    // `line` without its CR LF.
    Kind take(QByteArrayView line);

private:
    bool m_atStart = true;
};

// Options every transfer of the program shares: the URL, http and https
// only (also for redirects), HTTP/1.1, no signals (transfers run on many
// threads), and whether redirects are followed.
void setTransferBasics(CURL *handle, const QByteArray &url, bool followRedirects);
// Connect time-out, and the time a transfer may stand still (no byte either
// way) before it ends; 0 leaves that one unlimited.
void setTransferTimeouts(CURL *handle, long connectTimeoutMs, long idleTimeoutMs);

struct ExchangeRequest {
    QByteArray url;
    int method = 0;
    QList<QByteArray> headers;      // wire lines in order, without CR LF
    QList<QByteArray> proxyHeaders; // lines for a proxy's CONNECT request only
    QByteArray body;
    bool followRedirects = true;
    bool verifyCertificates = false;
    long connectTimeoutMs = 0; // resolve and connect; 0: libcurl's default
    long idleTimeoutMs = 0;    // send and receive: no byte moves that long; 0: none
    QByteArray proxy;          // empty: no proxy at all, not even from the environment
    QByteArray proxyUser;
    QByteArray proxyPassword;
    long proxyAuth = CURLAUTH_BASIC;
    QByteArray user;
    QByteArray password;
    long serverAuth = CURLAUTH_BASIC;
};

// The step of the exchange that failed.
enum class FailedStage {
    None,
    Url,      // the URL is not an http(s) URL
    Connect,  // no connection (resolve, connect, TLS handshake)
    Send,     // the request could not be sent whole
    Response, // sent, but no complete response head came back
    Read      // the head came, the body did not
};

struct ExchangeResult {
    CURLcode code = CURLE_OK;
    FailedStage failed = FailedStage::None;
    QByteArray statusLine;         // of the final response, without CR LF
    QList<QByteArray> headerLines; // of the final response, without the status line
    QByteArray body;
    int status = 0;
};

// Largest body kept in memory; a longer one ends the exchange at the read step.
constexpr qsizetype kMaxBodyBytes = qsizetype(256) << 20;

// The URL for the diagnostic log: scheme, host, port and path; the query
// (which may carry report texts) is left out.
QString urlForLog(const QByteArray &url);
// "Connect", "Read" ...
const char *stageName(FailedStage stage);

// Runs the exchange on `handle`. A failed one is logged with its stage and
// libcurl's code and message. The handle's options are reset first; its
// live connections are kept for the next exchange.
ExchangeResult perform(CURL *handle, const ExchangeRequest &request);

} // namespace net::detail
