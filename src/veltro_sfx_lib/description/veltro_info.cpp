#include "veltro_sfx_lib/description/veltro_info.hpp"

#include <cstdio>

#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/utf.hpp"
#include "framework/xml_path.hpp"

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

std::string veltro_info::to_string() const {
    std::lock_guard<std::mutex> guard(lock_);
    xml::string_writer out;
    doc_.save(out, L"\t", pugi::format_default, pugi::encoding_utf8);
    return std::move(out.text);
}

bool veltro_info::save(const std::wstring& path) {
    const std::string text = to_string();
    // It carries the cookie: readable by the setup master, which runs with
    // the stub's own token, and by no other user. A half-written file is
    // removed before the failure is reported.
    try {
        files::write_private_file(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        return true;
    } catch (const exceptions::error&) {
        return false;
    }
}

}  // namespace qzr::sfx
