// The host build's counterpart of the proxy.ini file access, for tools and
// tests: the same bytes through stdio, with errno values as error codes and
// no locking (nothing else on a build machine shares the file).
#include <cerrno>
#include <cstdio>
#include <memory>

#include "framework/utf.hpp"
#include "net/proxy_settings.hpp"

namespace qzr::http {

namespace {
struct file_closer {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;
}  // namespace

std::uint32_t ProxySettings::load(const std::wstring& path) {
    const file_ptr file(std::fopen(utf::to_utf8(path).c_str(), "rb"));
    if (!file) return static_cast<std::uint32_t>(errno);
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get()))
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get())) return static_cast<std::uint32_t>(errno ? errno : EIO);
    const bool keep_reserved = reserved;
    *this = parse_proxy_ini(bytes);
    reserved = keep_reserved;
    return 0;
}

std::uint32_t ProxySettings::save(const std::wstring& path) const {
    const std::vector<std::uint8_t> bytes = serialize_proxy_ini(*this);
    std::FILE* raw = std::fopen(utf::to_utf8(path).c_str(), "wb");
    if (!raw) return static_cast<std::uint32_t>(errno);
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    const bool closed = std::fclose(raw) == 0;
    if (!wrote || !closed) {
        const int error = errno ? errno : EIO;
        std::remove(utf::to_utf8(path).c_str());
        return static_cast<std::uint32_t>(error);
    }
    return 0;
}

}  // namespace qzr::http
