#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace studiosim {

// Incremental SHA-256, so an upload is hashed as its chunks arrive.
class Sha256 final {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void update(const char *data, std::size_t size);
    std::string finishHex();

private:
    struct Ctx;
    std::unique_ptr<Ctx> m_ctx;
};

std::string md5Hex(std::string_view bytes);
std::string sha256Hex(std::string_view bytes);
std::string randomHex(std::size_t bytes);

std::string htmlEscape(std::string_view text);
// Converts GBK bytes to UTF-8; bytes that do not convert come out as U+FFFD.
std::string gbkToUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view text);
// Keeps printable ASCII and escapes everything else as %XX (for logging raw targets).
std::string asciiSafe(std::string_view bytes);
// Local wall-clock time as "YYYY-MM-DDTHH:MM:SS".
std::string nowText();

bool parseBool(std::string_view text, bool &out);
bool parseInt(std::string_view text, long long &out);

} // namespace studiosim
