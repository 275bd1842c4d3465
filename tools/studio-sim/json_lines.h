#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace studiosim {

// An append-only file of one JSON object per line, shared by request threads.
class JsonLinesFile final {
public:
    explicit JsonLinesFile(std::filesystem::path path) : m_path(std::move(path)) {}

    bool append(const std::string &json);
    std::vector<std::string> lines() const;
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
    mutable std::mutex m_mutex;
};

} // namespace studiosim
