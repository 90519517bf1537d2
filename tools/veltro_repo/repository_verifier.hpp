// Checks a repository tree the way the stub checks what it downloads.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace qzr::repo {

struct tree_report {
    std::size_t setup_files = 0;
    std::size_t documents = 0;
    std::size_t modules = 0;
    // "path: what is wrong", paths relative to the root, in path order.
    std::vector<std::string> problems;
};

// Every file of the tree must be a setup file, product-info document or
// compatibility module at its place. Each one's container must verify with
// the key set and decode; a setup file must decode to content whose SHA-256
// names it; a document and a module must carry a signature of their own
// that verifies; every setup file a document names must be present.
tree_report verify_tree(const std::filesystem::path& root, int key_set);

}  // namespace qzr::repo
