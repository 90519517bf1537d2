// An open file read through one bounded buffer at explicit offsets, for code
// that walks a file of any size (the signature check, the LZMA decoder)
// without mapping it whole. The caller keeps the handle open and readable.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/byte_source.hpp"

namespace qzr::files {

class file_source final : public byte_source {
public:
    static constexpr std::size_t buffer_size = 1u << 20;

    // Raises the Windows error when the file's size cannot be read.
    explicit file_source(HANDLE file);

    std::uint64_t size() const override { return size_; }
    // Raises error 5 past the end and the Windows error of a failed read; a
    // file that shrank under us reads as ERROR_HANDLE_EOF.
    byte_view window(std::uint64_t offset, std::size_t want) override;

private:
    HANDLE file_;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t buffered_at_ = 0;
    std::size_t buffered_ = 0;
};

}  // namespace qzr::files
