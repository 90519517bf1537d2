#include "win/file_source.hpp"

#include <algorithm>

#include "win/system_error.hpp"

namespace qzr::files {

file_source::file_source(HANDLE file) : file_(file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) win::raise_last_error(L"Unable to get file size!");
    size_ = static_cast<std::uint64_t>(size.QuadPart);
}

byte_view file_source::window(std::uint64_t offset, std::size_t want) {
    if (offset > size_)
        throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>({want, buffer_size, size_ - offset}));
    // Small reads near each other (the headers, the signature block) come
    // from what the last read brought in.
    if (offset >= buffered_at_ && offset - buffered_at_ <= buffered_ && length <= buffered_ - (offset - buffered_at_))
        return byte_view(buffer_.data() + (offset - buffered_at_), length);
    if (buffer_.empty()) buffer_.resize(buffer_size);
    // Read ahead only for small requests: a big one is a sequential walk.
    const std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(
        length < min_window ? std::max<std::size_t>(length, min_window) : length, size_ - offset));
    std::size_t got = 0;
    while (got < fill) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD read = 0;
        if (!::ReadFile(file_, buffer_.data() + got, static_cast<DWORD>(fill - got), &read, &at)) {
            buffered_ = 0;
            win::raise_last_error(L"Unable to read file!");
        }
        if (read == 0) {
            buffered_ = 0;
            throw exceptions::error(ERROR_HANDLE_EOF, "Unable to read file!");
        }
        got += read;
    }
    buffered_at_ = offset;
    buffered_ = got;
    return byte_view(buffer_.data(), length);
}

}  // namespace qzr::files
