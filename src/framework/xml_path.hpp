// Walking a document along a path of element names, in document order: the
// few fixed paths the stub reads, without a query language (and its number
// parsing and formatting) in the executable.
#pragma once

#include <pugixml.hpp>

#include <initializer_list>
#include <string>
#include <string_view>

namespace qzr::xml {

// Calls `visit` for every element reached from `from` through children with
// the names of `path` in turn, in document order, until it returns false.
// Returns false when the walk was stopped.
using visitor = bool (*)(pugi::xml_node, void* context);
bool each_along(pugi::xml_node from, std::initializer_list<const wchar_t*> path, visitor visit, void* context);

template <class Visit>
void each_along(pugi::xml_node from, std::initializer_list<const wchar_t*> path, Visit visit) {
    each_along(
        from, path, [](pugi::xml_node n, void* c) { return (*static_cast<Visit*>(c))(n); }, &visit);
}

// The first element along `path`, or an empty node.
pugi::xml_node first_along(pugi::xml_node from, std::initializer_list<const wchar_t*> path);

// Whether the element has an attribute of that name with that value (every
// attribute counts, as in a path query's [@name='value']).
bool has_attribute(pugi::xml_node element, std::wstring_view name, std::wstring_view value);

// Collects what pugixml writes, without going through iostreams.
struct string_writer final : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

// The text of a node as a path query compares it: every text and CDATA
// section below it, joined in document order.
void append_string_value(pugi::xml_node node, std::wstring& out);

}  // namespace qzr::xml
