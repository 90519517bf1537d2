#include "framework/xml_path.hpp"

namespace qzr::xml {

namespace {

bool walk(pugi::xml_node from, const wchar_t* const* first, const wchar_t* const* last, visitor visit,
          void* context) {
    if (first == last) return visit(from, context);
    for (const pugi::xml_node child : from.children(*first))
        if (!walk(child, first + 1, last, visit, context)) return false;
    return true;
}

}  // namespace

bool each_along(pugi::xml_node from, std::initializer_list<const wchar_t*> path, visitor visit, void* context) {
    return walk(from, path.begin(), path.end(), visit, context);
}

pugi::xml_node first_along(pugi::xml_node from, std::initializer_list<const wchar_t*> path) {
    pugi::xml_node found;
    each_along(from, path, [&](pugi::xml_node n) {
        found = n;
        return false;
    });
    return found;
}

bool has_attribute(pugi::xml_node element, std::wstring_view name, std::wstring_view value) {
    for (const pugi::xml_attribute a : element.attributes())
        if (name == a.name() && value == a.value()) return true;
    return false;
}

void append_string_value(pugi::xml_node node, std::wstring& out) {
    for (const pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            out += child.value();
        else if (child.type() == pugi::node_element)
            append_string_value(child, out);
    }
}

}  // namespace qzr::xml
