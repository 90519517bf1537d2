#include "veltro_sfx_lib/description/veltro_info.hpp"

#include <cstdio>

#include "framework/utf.hpp"

namespace qzr::sfx {

void veltro_info_intf::add_text_element(const std::wstring& name, const std::wstring& text) {
    pugi::xml_document scratch;
    auto element = scratch.append_child(name.c_str());
    element.text().set(text.c_str());
    add_node(element);
}

veltro_info::veltro_info() {
    auto decl = doc_.append_child(pugi::node_declaration);
    decl.append_attribute(L"version") = L"1.0";
    decl.append_attribute(L"encoding") = L"utf-8";
    auto root = doc_.append_child(L"veltro-info");
    root.append_attribute(L"xmlns:xs") = L"http://www.w3.org/2001/XMLSchema-instance";
}

void veltro_info::add_node(const pugi::xml_node& node) {
    std::lock_guard<std::mutex> guard(lock_);
    doc_.document_element().append_copy(node);
}

void veltro_info::add_attribute(const pugi::xml_attribute& attribute) {
    std::lock_guard<std::mutex> guard(lock_);
    doc_.document_element().append_copy(attribute);
}

namespace {
// Collects the saved document without going through iostreams.
struct string_writer final : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};
}  // namespace

std::string veltro_info::to_string() const {
    std::lock_guard<std::mutex> guard(lock_);
    string_writer out;
    doc_.save(out, L"\t", pugi::format_default, pugi::encoding_utf8);
    return std::move(out.text);
}

bool veltro_info::save(const std::wstring& path) {
    const std::string text = to_string();
#ifdef _WIN32
    FILE* f = _wfopen(path.c_str(), L"wb");
#else
    FILE* f = std::fopen(utf::to_utf8(path).c_str(), "wb");
#endif
    if (!f) return false;
    const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!(wrote && closed)) {
        // A half-written hand-over file must not be mistaken for a whole one.
#ifdef _WIN32
        _wremove(path.c_str());
#else
        std::remove(utf::to_utf8(path).c_str());
#endif
        return false;
    }
    return true;
}

}  // namespace qzr::sfx
