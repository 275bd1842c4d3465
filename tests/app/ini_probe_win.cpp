// Reads and writes a profile file through the Windows profile functions, as
// the older program did, for the settings-file tests. Every name and value
// travels as hex of its code-page-936 bytes, so no console encoding is involved.
//   ini_probe write FILE   stdin lines: SECTION KEY VALUE   (hex, tab-separated)
//   ini_probe read FILE    stdin lines: SECTION KEY; prints the value's hex per line
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <windows.h>

namespace {

std::string fromHex(const std::string &hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const char *bytes, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(fromHex(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    const char *file = argv[2];
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::vector<std::string> f = fields(line);
        if (mode == "write" && f.size() == 3) {
            if (!WritePrivateProfileStringA(f[0].c_str(), f[1].c_str(), f[2].c_str(), file))
                return 1;
        } else if (mode == "read" && f.size() == 2) {
            std::vector<char> buffer(10240);
            const DWORD n = GetPrivateProfileStringA(f[0].c_str(), f[1].c_str(), "", buffer.data(), 10239, file);
            std::cout << toHex(buffer.data(), n) << "\n";
        } else {
            return 2;
        }
    }
    return 0;
}
