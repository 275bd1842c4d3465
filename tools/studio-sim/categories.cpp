#include "categories.h"

#include "sim_util.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace studiosim {

const std::vector<Category> &categoryTree()
{
    static const std::vector<Category> tree {
        {101, "生活", {{10101, "日常", {}}, {10102, "美食", {}}, {10103, "旅行", {}}}},
        {102, "知识", {{10201, "科学", {}}, {10202, "历史", {}}, {10203, "财经", {}}, {10204, "职场", {}}}},
        {103, "娱乐", {{10301, "音乐", {}}, {10302, "舞蹈", {}}}},
        {104, "游戏", {{10401, "手游", {}}, {10402, "单机", {}}, {10403, "电竞", {}}}},
        {105, "运动", {{10501, "健身", {}}, {10502, "户外", {}}}},
    };
    return tree;
}

std::string categoriesJson()
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartArray();
    for (const Category &first : categoryTree()) {
        w.StartObject();
        w.Key("id"); w.Int(first.id);
        w.Key("name"); w.String(first.name);
        w.Key("children");
        w.StartArray();
        for (const Category &second : first.children) {
            w.StartObject();
            w.Key("id"); w.Int(second.id);
            w.Key("name"); w.String(second.name);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    return buffer.GetString();
}

std::string categoryTreeHtml()
{
    auto item = [](const char *cls, const Category &c) {
        const std::string id = std::to_string(c.id);
        const std::string name = htmlEscape(c.name);
        return std::string("<li class=\"") + cls + "\" data-id=\"" + id + "\" data-name=\"" + name + "\">" + name;
    };
    std::string html = "<ul class=\"category-tree\" hidden>";
    for (const Category &first : categoryTree()) {
        html += item("category-tree__first", first) + "<ul class=\"category-tree__children\">";
        for (const Category &second : first.children)
            html += item("category-tree__second", second) + "</li>";
        html += "</ul></li>";
    }
    return html + "</ul>";
}

bool validCategory(const std::vector<long long> &ids, const std::vector<std::string> &names)
{
    if (ids.empty())
        return names.empty();
    if (ids.size() != 2 || names.size() != 2)
        return false;
    for (const Category &first : categoryTree()) {
        if (first.id != ids[0])
            continue;
        for (const Category &second : first.children) {
            if (second.id == ids[1])
                return names[0] == first.name && names[1] == second.name;
        }
    }
    return false;
}

} // namespace studiosim
