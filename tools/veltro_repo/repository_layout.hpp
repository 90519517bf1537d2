// Where things live in a product repository, what a product-info document
// asks of it, and the container every repository file travels in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "signature_writer.hpp"

namespace qzr::repo {

using bytes = std::vector<std::uint8_t>;

// "universe/0123/4567/89ab/<digest>.lzma" for a setup file whose SHA-256 is
// the 64-digit lowercase hex text digest; the stub builds the same path from
// the document's text, so nothing else may be given.
std::string object_path(std::string_view digest);
// "defs/<product>/<channel>.xml.lzma"
std::string product_info_path(std::string_view product, std::string_view channel);
// "defs/<product>/<version, each '.' a '/'>/<channel>.xml.lzma": where a stub
// started with /noupdate asks for the channel pinned to the version it
// carries (1.2.3.4 and release: defs/demo/1/2/3/4/release.xml.lzma).
std::string pinned_product_info_path(std::string_view product, std::string_view version, std::string_view channel);
// "dll/<product>/x86/veltro_mod.dll.lzma"
std::string module_path(std::string_view product);

// 64 lowercase hex digits.
bool is_digest_text(std::string_view text) noexcept;

// Why a product or channel name cannot stand in a repository URL and path as
// the stub writes it (unescaped), or "" when it can.
std::string name_problem(std::string_view name);

// Why a version cannot name the folders of a pinned channel (every part
// between the dots must be a name as name_problem allows), or "".
std::string version_problem(std::string_view version);

// The text of product-info/version, "" without one. Raises std::runtime_error
// when the document does not parse.
std::string listed_version(std::span<const std::uint8_t> document);

// A setup file as a product-info document lists it, texts as written (UTF-8).
struct listed_file {
    std::string name;
    std::string sha256;
    std::string size;
    bool has_size = false;
};

// Every file of every setup-files group, whatever their conditions say: each
// of them is what some machine may ask for. Raises std::runtime_error when
// the document does not parse.
std::vector<listed_file> listed_setup_files(std::span<const std::uint8_t> document);

// The form of every repository file: the content LZMA-alone compressed with
// its size in the header, then a binary signature block over the compressed
// bytes. The decoder stops at the announced size, so the block behind the
// stream does not disturb it.
bytes make_container(std::span<const std::uint8_t> content, int version, const pack::digest_signer& sign,
                     std::uint32_t level = 9);

}  // namespace qzr::repo
