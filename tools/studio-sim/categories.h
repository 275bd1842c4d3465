#pragma once

#include <string>
#include <vector>

namespace studiosim {

// The studio's two-level category tree. One table feeds /api/categories, the
// hidden tree rendered into the upload page and the publish check.
struct Category {
    int id;
    const char *name;
    std::vector<Category> children;
};

const std::vector<Category> &categoryTree();
std::string categoriesJson();
// <ul class="category-tree" hidden> with .category-tree__first and
// .category-tree__second items carrying data-id and data-name.
std::string categoryTreeHtml();
// True when ids are empty (no category) or a first-level id followed by one
// of its children; names are then the matching names (or both empty).
bool validCategory(const std::vector<long long> &ids, const std::vector<std::string> &names);

} // namespace studiosim
