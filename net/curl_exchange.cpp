#include "net/curl_exchange.h"

#include "base/gbk.h"
#include "net/log.h"

#include <QUrl>

#include <algorithm>
#include <utility>

namespace net::detail {

namespace {

constexpr const char *kVerbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};

bool namesHeader(const QList<QByteArray> &lines, QByteArrayView name)
{
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) {
        const auto end = std::find_if(line.cbegin(), line.cend(), [](char c) { return c == ':' || c == ';'; });
        const QByteArrayView lineName(line.cbegin(), end);
        return end != line.cend() && lineName.trimmed().compare(name, Qt::CaseInsensitive) == 0;
    });
}

// "Name:" with nothing after it tells libcurl to leave out a header of its own.
void suppressUnless(HeaderList &list, const QList<QByteArray> &given, QByteArrayView name)
{
    if (!namesHeader(given, name))
        list.append(name.toByteArray() + ':');
}

// What the callbacks gather; the result it fills is fixed when it is made.
struct Collector {
    explicit Collector(ExchangeResult &out)
        : result(&out)
    {
    }

    ExchangeResult *result;
    HeadLines head;
    bool gotStatus = false;
    bool headComplete = false; // the head of a final (not 1xx) answer ended
    bool overflow = false;
};

bool isInterim(const QByteArray &statusLine)
{
    return statusLine.split(' ').value(1).startsWith('1');
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *c = static_cast<Collector *>(user);
    const size_t n = size * count;
    QByteArray line(data, qsizetype(n));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    switch (c->head.take(line)) {
    case HeadLines::Kind::Status:
        // Each response (a redirect hop, an interim 1xx) starts over.
        c->gotStatus = true;
        c->headComplete = false;
        c->result->statusLine = line;
        c->result->headerLines.clear();
        c->result->body.clear();
        break;
    case HeadLines::Kind::Header:
        c->result->headerLines.append(line);
        break;
    case HeadLines::Kind::End:
        c->headComplete = c->gotStatus && !isInterim(c->result->statusLine);
        break;
    }
    return n;
}

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *c = static_cast<Collector *>(user);
    const size_t n = size * count;
    if (c->result->body.size() + qsizetype(n) > kMaxBodyBytes) {
        c->overflow = true;
        return 0;
    }
    c->result->body.append(data, qsizetype(n));
    return n;
}

void setMethodAndBody(CURL *h, const ExchangeRequest &r)
{
    const int method = clampMethod(r.method);
    const bool hasBody = !r.body.isEmpty();
    const auto bodyData = [&] {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, r.body.constData());
    };
    switch (method) {
    case 1: // POST: the plain POST switches to GET on a 301, 302 or 303 like a browser
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        bodyData();
        break;
    case 2: // HEAD: no body comes back
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        break;
    case 0:
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        if (!hasBody)
            break;
        [[fallthrough]];
    default:
        if (hasBody || method == 3)
            bodyData();
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, kVerbs[method]);
        break;
    }
}

FailedStage classify(CURLcode code, const Collector &c, CURL *h, const ExchangeRequest &r)
{
    // libcurl takes a connection that ends inside a head without a length
    // as the end of the answer.
    if (code == CURLE_OK)
        return c.headComplete ? FailedStage::None : FailedStage::Response;
    curl_off_t connectTime = 0;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime);
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    const bool connected = connectTime > 0;
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        if (!connected)
            return FailedStage::Url;
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
        return FailedStage::Connect;
    case CURLE_TOO_MANY_REDIRECTS:
        return FailedStage::Response;
    default:
        break;
    }
    if (c.headComplete)
        return FailedStage::Read;
    if (c.gotStatus)
        return FailedStage::Response;
    if (!connected)
        return FailedStage::Connect;
    if (code == CURLE_SEND_ERROR || uploaded < curl_off_t(r.body.size()))
        return FailedStage::Send;
    return FailedStage::Response;
}

QString failureReason(const Collector &c, CURLcode code, const char *errorText)
{
    if (c.overflow)
        return QStringLiteral("the body passed %1 bytes").arg(kMaxBodyBytes);
    if (code == CURLE_OK)
        return QStringLiteral("the connection ended inside the response head");
    return QStringLiteral("curl %1 %2 %3").arg(int(code)).arg(QString::fromUtf8(curl_easy_strerror(code)), QString::fromUtf8(errorText));
}

} // namespace

QString urlForLog(const QByteArray &url)
{
    const QUrl parsed(QString::fromUtf8(url));
    if (!parsed.isValid())
        return QStringLiteral("(an invalid URL of %1 bytes)").arg(url.size());
    return parsed.toString(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
}

const char *stageName(FailedStage stage)
{
    switch (stage) {
    case FailedStage::None: return "no";
    case FailedStage::Url: return "URL";
    case FailedStage::Connect: return "connect";
    case FailedStage::Send: return "send";
    case FailedStage::Response: return "response";
    case FailedStage::Read: return "read";
    }
    return "?";
}

bool curlReady()
{
    static const bool ready = [] {
        const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (code != CURLE_OK)
            qCCritical(lcNet) << "libcurl cannot be initialised:" << curl_easy_strerror(code);
        return code == CURLE_OK;
    }();
    return ready;
}

CurlHandle newCurlHandle()
{
    if (!curlReady())
        return {};
    CurlHandle handle(curl_easy_init());
    if (!handle)
        qCCritical(lcNet) << "libcurl gave no handle";
    return handle;
}

int clampMethod(int method)
{
    return method >= 0 && method <= 7 ? method : 0;
}

QByteArray verbOf(int method)
{
    return kVerbs[clampMethod(method)];
}

QByteArray urlBytes(QStringView url)
{
    const QByteArray utf8 = url.trimmed().toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte >= 0x7F)
            out += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += ch;
    }
    return out;
}

namespace {
QByteArray schemeOf(const QByteArray &url)
{
    CURLU *u = curl_url();
    if (!u)
        return {};
    QByteArray scheme;
    char *part = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url.constData(), 0) == CURLUE_OK
        && curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK && part && *part) {
        curl_free(part);
        part = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &part, 0) == CURLUE_OK && part)
            scheme = QByteArray(part).toLower();
    }
    curl_free(part);
    curl_url_cleanup(u);
    return scheme;
}
} // namespace

bool isHttpUrl(const QByteArray &url)
{
    const QByteArray scheme = schemeOf(url);
    return scheme == "http" || scheme == "https";
}

bool isHttpsUrl(const QByteArray &url)
{
    return schemeOf(url) == "https";
}

QByteArray headerBytes(QStringView text)
{
    const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    return latin1 ? text.toLatin1() : gbk::encode(text);
}

QByteArray headerLine(QStringView name, QStringView value)
{
    // libcurl sends "Name;" as "Name:"; "Name:" alone would remove the header.
    if (value.trimmed().isEmpty())
        return headerBytes(name) + ';';
    return headerBytes(name) + ": " + headerBytes(value);
}

void setTransferBasics(CURL *h, const QByteArray &url, bool followRedirects)
{
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
}

void setTransferTimeouts(CURL *h, long connectTimeoutMs, long idleTimeoutMs)
{
    if (connectTimeoutMs > 0)
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    if (idleTimeoutMs > 0) {
        // Less than a byte a second over the whole period: nothing moves.
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max(1L, (idleTimeoutMs + 999) / 1000));
    }
}

HeadLines::Kind HeadLines::take(QByteArrayView line)
{
    if (line.isEmpty()) {
        m_atStart = true;
        return Kind::End;
    }
    const bool first = std::exchange(m_atStart, false);
    return first && line.startsWith("HTTP/") ? Kind::Status : Kind::Header;
}

HeaderList::HeaderList(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        append(line);
}

HeaderList::~HeaderList()
{
    curl_slist_free_all(m_list);
}

void HeaderList::append(const QByteArray &line)
{
    if (curl_slist *grown = curl_slist_append(m_list, line.constData()))
        m_list = grown;
}

ExchangeResult perform(CURL *h, const ExchangeRequest &r)
{
    ExchangeResult result;
    Collector collector(result);
    curl_easy_reset(h);

    HeaderList headers(r.headers);
    for (const char *own : {"Accept", "Content-Type", "Expect", "Proxy-Connection"})
        suppressUnless(headers, r.headers, own);
    HeaderList proxyHeaders(r.proxyHeaders);
    suppressUnless(proxyHeaders, r.proxyHeaders, "Proxy-Connection");

    setTransferBasics(h, r.url, r.followRedirects);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_PROXYHEADER, proxyHeaders.get());
    curl_easy_setopt(h, CURLOPT_HEADEROPT, long(CURLHEADER_SEPARATE));
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    setMethodAndBody(h, r);

    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, r.verifyCertificates ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, r.verifyCertificates ? 2L : 0L);
    setTransferTimeouts(h, r.connectTimeoutMs, r.idleTimeoutMs);

    curl_easy_setopt(h, CURLOPT_PROXY, r.proxy.constData());
    // A proxy given is used for every host, whatever the environment says.
    if (!r.proxy.isEmpty())
        curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (!r.proxyUser.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, r.proxyUser.constData());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, r.proxyPassword.constData());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, r.proxyAuth);
    }
    if (!r.user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, r.user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, r.password.constData());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, r.serverAuth);
    }

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &collector);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &collector);

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    result.code = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    result.failed = collector.overflow ? FailedStage::Read : classify(result.code, collector, h, r);
    if (result.failed != FailedStage::None) {
        qCWarning(lcNet).noquote() << verbOf(r.method) << urlForLog(r.url) << "failed at the" << stageName(result.failed) << "step:"
                                   << failureReason(collector, result.code, errorText);
    }
    if (collector.gotStatus) {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        result.status = int(status);
    }
    // Nothing of this exchange may point into memory that is about to go.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
    return result;
}

} // namespace net::detail
