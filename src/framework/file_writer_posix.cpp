// The host build's counterpart, for tools and tests.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/utf.hpp"

namespace qzr::files {

namespace {

void write_file(const std::wstring& path, std::span<const std::uint8_t> data, bool owner_only) {
    const std::string name = utf::to_utf8(path);
    FILE* f = nullptr;
    if (owner_only) {
        std::remove(name.c_str());
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        f = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !f) ::close(fd);
    } else {
        f = std::fopen(name.c_str(), "wb");
    }
    if (!f) throw exceptions::error(errno, L"Unable to create file '%ls'!", path);
    const bool wrote = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        std::remove(name.c_str());
        throw exceptions::error(errno, L"Unable to write file '%ls'!", path);
    }
}

}  // namespace

void write_whole_file(const std::wstring& path, std::span<const std::uint8_t> data) { write_file(path, data, false); }

void write_private_file(const std::wstring& path, std::span<const std::uint8_t> data) { write_file(path, data, true); }

}  // namespace qzr::files
