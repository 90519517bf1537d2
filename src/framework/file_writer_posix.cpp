// The host build's counterpart, for tools and tests.
#include <cerrno>
#include <cstdio>

#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/utf.hpp"

namespace qzr::files {

void write_whole_file(const std::wstring& path, std::span<const std::uint8_t> data) {
    const std::string name = utf::to_utf8(path);
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) throw exceptions::error(errno, L"Unable to create file '%ls'!", path);
    const bool wrote = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        std::remove(name.c_str());
        throw exceptions::error(errno, L"Unable to write file '%ls'!", path);
    }
}

}  // namespace qzr::files
