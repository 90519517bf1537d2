// Publishing one product channel into a repository tree: the setup files its
// product-info names, the document itself and the compatibility module, each
// signed and compressed the way the stub fetches and checks them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "signature_writer.hpp"

namespace qzr::repo {

struct publish_request {
    std::filesystem::path out;
    std::string product;
    std::string channel;
    std::string product_info;  // path of the document, unsigned or signed already
    std::string module;        // path of veltro_mod.dll, or empty
    std::vector<std::string> files;  // offered setup files
    std::vector<std::string> dirs;   // folders whose every file is offered
    pack::digest_signer sign;
    int version = 3;
    int key_set = 7;  // what the stub verifies downloads with
    std::uint32_t level = 9;  // LZMA preset of every container
    std::optional<std::uint64_t> timestamp;  // modification time of every written file
    // Also the copy a stub started with /noupdate fetches: the channel pinned
    // to the document's version.
    bool pinned = false;
    bool check_only = false;  // every check that needs no compressing; nothing built or written
};

struct publish_result {
    // Paths relative to the tree, in the order they were put in place.
    std::vector<std::string> written;
    std::vector<std::string> unchanged;  // already there with the same bytes
    std::vector<std::string> notes;
};

// Everything wrong with the request, one line each; nothing was written.
struct publish_refused : std::runtime_error {
    explicit publish_refused(std::vector<std::string> why)
        : std::runtime_error(why.empty() ? "refused" : why.front()), reasons(std::move(why)) {}
    std::vector<std::string> reasons;
};

// Checks everything before writing (with check_only, only that); builds the tree beside out, checks it as
// the verifier does, and only then puts it in place: by renaming the whole
// tree when out does not exist yet, else file by file, setup files first and
// the product-info last, so that a reader never meets a document whose
// setup files are not there yet.
publish_result publish(const publish_request& request);

}  // namespace qzr::repo
