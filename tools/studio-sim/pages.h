#pragma once

#include <string>
#include <vector>

namespace studiosim {

// The studio's page bodies live as raw string literals in page_*.cpp.
extern const char *const kUploadHtml; // placeholders: {{STYLE}} {{HEADER}} {{CATEGORY_TREE}} {{CONFIG}} {{SCRIPT}}
extern const char *const kUploadJs;
extern const char *const kPageCss;

struct ContentRow {
    std::string title;
    std::string fileName;
    std::string time;
    std::string cover;
};

std::string loginPage(const std::string &error);
// `redesign` serves the studio's redesigned upload page: other class names and
// texts and the cover section first, with the same flow and requests.
std::string uploadPage(const std::string &user, const std::string &configJson, bool redesign = false);
// The list is rendered by a script of the page `listDelayMs` after it loaded,
// as a real studio fetches it after its frame.
std::string contentPage(const std::string &user, const std::string &tab, const std::vector<ContentRow> &rows, long long listDelayMs = 0);

} // namespace studiosim
