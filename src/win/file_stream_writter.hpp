// Decoded bytes into an open file.
#pragma once

#include <windows.h>

#include "framework/stream_writer.hpp"

namespace qzr::packers {

class file_stream_writter final : public stream_writter_intf {
public:
    explicit file_stream_writter(HANDLE file) noexcept : file_(file) {}
    void write(const std::uint8_t* data, std::size_t size) override;
    // Extends or truncates the file, keeping the current position.
    void set_size(std::uint64_t size) override;

private:
    HANDLE file_;
};

}  // namespace qzr::packers
