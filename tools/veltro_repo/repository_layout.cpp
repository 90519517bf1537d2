#include "repository_layout.hpp"

#include <pugixml.hpp>

#include <algorithm>
#include <stdexcept>

#include "framework/lzma_codec.hpp"
#include "framework/utf.hpp"

namespace qzr::repo {

std::string object_path(std::string_view digest) {
    if (!is_digest_text(digest)) throw std::invalid_argument("not a SHA-256 digest in lowercase hex: " + std::string(digest));
    const std::string h(digest);
    return "universe/" + h.substr(0, 4) + "/" + h.substr(4, 4) + "/" + h.substr(8, 4) + "/" + h + ".lzma";
}

std::string product_info_path(std::string_view product, std::string_view channel) {
    return "defs/" + std::string(product) + "/" + std::string(channel) + ".xml.lzma";
}

std::string pinned_product_info_path(std::string_view product, std::string_view version, std::string_view channel) {
    std::string folders(version);
    std::replace(folders.begin(), folders.end(), '.', '/');
    return "defs/" + std::string(product) + "/" + folders + "/" + std::string(channel) + ".xml.lzma";
}

std::string module_path(std::string_view product) { return "dll/" + std::string(product) + "/x86/veltro_mod.dll.lzma"; }

bool is_digest_text(std::string_view text) noexcept {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string name_problem(std::string_view name) {
    if (name.empty()) return "is empty";
    if (name == "." || name == "..") return "is not a folder name";
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-' || c == '+';
        if (!plain)
            return std::string("holds '") + c +
                   "': the stub puts the name into the URL unescaped, so only letters, digits and . _ - + are safe";
    }
    return "";
}

std::string version_problem(std::string_view version) {
    for (std::size_t from = 0;;) {
        const std::size_t dot = std::min(version.find('.', from), version.size());
        if (const std::string why = name_problem(version.substr(from, dot - from)); !why.empty())
            return "part \"" + std::string(version.substr(from, dot - from)) + "\" " + why;
        if (dot == version.size()) return "";
        from = dot + 1;
    }
}

namespace {

pugi::xml_node product_info_root(pugi::xml_document& doc, std::span<const std::uint8_t> document) {
    const pugi::xml_parse_result parsed = doc.load_buffer(document.data(), document.size());
    if (!parsed) throw std::runtime_error(std::string("does not parse: ") + parsed.description());
    const pugi::xml_node root = doc.child(L"product-info");
    if (!root) throw std::runtime_error("has no product-info element");
    return root;
}

}  // namespace

std::string listed_version(std::span<const std::uint8_t> document) {
    pugi::xml_document doc;
    return utf::to_utf8(product_info_root(doc, document).child(L"version").text().get());
}

std::vector<listed_file> listed_setup_files(std::span<const std::uint8_t> document) {
    pugi::xml_document doc;
    product_info_root(doc, document);
    std::vector<listed_file> files;
    for (const pugi::xpath_node group : doc.select_nodes(L"product-info/setup-files"))
        for (const pugi::xpath_node file : group.node().select_nodes(L"file")) {
            const pugi::xml_node f = file.node();
            listed_file l;
            l.name = utf::to_utf8(f.child(L"name").text().get());
            l.sha256 = utf::to_utf8(f.child(L"sha-256").text().get());
            l.has_size = !f.child(L"size").empty();
            l.size = utf::to_utf8(f.child(L"size").text().get());
            files.push_back(std::move(l));
        }
    return files;
}

bytes make_container(std::span<const std::uint8_t> content, int version, const pack::digest_signer& sign,
                     std::uint32_t level) {
    bytes container = packers::lzma_encode(content, level);
    pack::append_binary_signature(container, version, sign, false);
    return container;
}

}  // namespace qzr::repo
