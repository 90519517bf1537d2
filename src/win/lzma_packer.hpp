// LZMA-alone decompression between files, handles and memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qzr::packers {

class lzma_packer {
public:
    // Input opened for reading, output created; the output is deleted when
    // anything fails.
    void unpack_file(const std::wstring& input, const std::wstring& output) const;
    void unpack_handle(HANDLE input, HANDLE output) const;
    void unpack_buffer_to_path(const std::uint8_t* data, std::size_t size, const std::wstring& output) const;
    void unpack_buffer_to_file(const std::uint8_t* data, std::size_t size, HANDLE output) const;
    std::vector<std::uint8_t> unpack_buffer(const std::uint8_t* data, std::size_t size) const;
};

}  // namespace qzr::packers
