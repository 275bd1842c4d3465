#include "sim_util.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <ctime>
#include <random>

namespace studiosim {

namespace {

std::string toHex(const unsigned char *data, unsigned size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (unsigned i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

std::string digestHex(const EVP_MD *md, std::string_view bytes)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out, &size, md, nullptr) != 1)
        return {};
    return toHex(out, size);
}

} // namespace

struct Sha256::Ctx {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
};

Sha256::Sha256() : m_ctx(std::make_unique<Ctx>())
{
    EVP_DigestInit_ex(m_ctx->ctx, EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_ctx->ctx);
}

void Sha256::update(const char *data, std::size_t size)
{
    EVP_DigestUpdate(m_ctx->ctx, data, size);
}

std::string Sha256::finishHex()
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_DigestFinal_ex(m_ctx->ctx, out, &size);
    return toHex(out, size);
}

std::string md5Hex(std::string_view bytes)
{
    return digestHex(EVP_md5(), bytes);
}

std::string sha256Hex(std::string_view bytes)
{
    return digestHex(EVP_sha256(), bytes);
}

std::string randomHex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(raw.data()), static_cast<int>(bytes)) != 1) {
        std::random_device rd;
        for (auto &c : raw)
            c = static_cast<char>(rd());
    }
    return toHex(reinterpret_cast<const unsigned char *>(raw.data()), static_cast<unsigned>(bytes));
}

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string gbkToUtf8(std::string_view bytes)
{
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return asciiSafe(bytes);
    std::string out;
    char buffer[4096];
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char *o = buffer;
        size_t oLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, o);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            out += "\xEF\xBF\xBD"; // skip the byte that does not convert
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    while (i < text.size()) {
        const unsigned char c = s[i];
        std::size_t len = 0;
        unsigned cp = 0;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > text.size())
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string asciiSafe(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        }
    }
    return out;
}

std::string nowText()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &tm);
    return buffer;
}

bool parseBool(std::string_view text, bool &out)
{
    if (text.empty() || text == "1" || text == "true" || text == "on" || text == "yes") {
        out = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "off" || text == "no") {
        out = false;
        return true;
    }
    return false;
}

bool parseInt(std::string_view text, long long &out)
{
    const auto *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty();
}

} // namespace studiosim
