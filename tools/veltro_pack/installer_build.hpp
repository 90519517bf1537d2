// `veltro-pack build`: from a release manifest to the signed sfx-info and
// product-info documents, the self-extractor carrying them and the setup
// files the manifest puts in its payload, and, when asked, the published
// repository tree. Everything is made and checked in memory first; a failure
// writes nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "manifest.hpp"
#include "signature_writer.hpp"

namespace qzr::pack {

struct build_options {
    std::optional<std::filesystem::path> stub;     // instead of [installer] stub
    std::optional<std::filesystem::path> output;   // instead of [installer] output
    std::optional<std::filesystem::path> publish;  // instead of [repository] publish
    bool no_publish = false;
    bool web = false;  // a web installer: every setup file comes from the repository
    std::optional<std::uint64_t> timestamp;        // when the manifest sets none (SOURCE_DATE_EPOCH)
};

struct built_installer {
    std::string sfx_info;      // signed document text
    std::string product_info;  // signed document text
    std::vector<std::uint8_t> image;
    std::size_t payload_files = 0;  // setup files in the payload (each content once)
};

// The documents and the image, nothing written.
built_installer make_installer(const manifest& m, const build_options& options, const digest_signer& sign);

struct build_report {
    std::filesystem::path installer;
    std::filesystem::path sfx_info;
    std::filesystem::path product_info;
    std::vector<std::string> published;  // repository paths written
    std::filesystem::path repository;
    std::size_t payload_files = 0;
    std::size_t image_size = 0;
};

// Every check of build that needs no compressing and writes nothing: what
// the manifest names and the options add (the stub, a web installer's or a
// repository's base URL, everything publishing refuses). Raises what build
// would raise. `build --check` runs this.
void check_build(const manifest& m, const build_options& options, const digest_signer& sign);

// make_installer, then the repository (when asked), then the three files.
// Run check_build first: it refuses at once what this would refuse only
// after compressing every setup file.
build_report build(const manifest& m, const build_options& options, const digest_signer& sign);

}  // namespace qzr::pack
