#include "win/hash_file.hpp"

#include "framework/sha256.hpp"
#include "win/file_mapping.hpp"

namespace qzr::root {

digest hash_file(HANDLE file) {
    sha256 h;
    files::file_mapping mapping;
    mapping.open(file, nullptr, false);
    const std::uint64_t size = mapping.size();
    for (std::uint64_t offset = 0; offset < size; offset += hash_window) {
        mapping.map_view(offset, hash_window);
        const byte_view window = mapping.view();
        h.update(window.data(), window.size());
    }
    const auto d = h.finish();
    return digest(std::vector<std::uint8_t>(d.begin(), d.end()));
}

}  // namespace qzr::root
