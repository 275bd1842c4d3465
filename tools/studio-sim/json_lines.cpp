#include "json_lines.h"

#include <cstdio>
#include <fstream>

namespace studiosim {

bool JsonLinesFile::append(const std::string &json)
{
    std::lock_guard lock(m_mutex);
    std::FILE *f = std::fopen(m_path.c_str(), "ab");
    if (!f)
        return false;
    // One write per line so a reader never sees half a record.
    const std::string line = json + "\n";
    const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<std::string> JsonLinesFile::lines() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    std::ifstream in(m_path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty())
            out.push_back(line);
    }
    return out;
}

} // namespace studiosim
