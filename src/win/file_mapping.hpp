// A read-only mapping of an open file, with at most one view at a time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/mapped_file.hpp"
#include "win/handle.hpp"

namespace qzr::files {

class file_mapping final : public mapped_file_intf {
public:
    file_mapping() = default;
    ~file_mapping() override { close(); }
    file_mapping(const file_mapping&) = delete;
    file_mapping& operator=(const file_mapping&) = delete;

    // Maps a file the caller keeps open (and closes). sa may make the mapping
    // handle inheritable. An empty file gets no mapping but counts as open.
    void open(HANDLE file, SECURITY_ATTRIBUTES* sa, bool map_whole_file);
    // The same for a file this object takes over.
    void open_owned(win::file_handle file, SECURITY_ATTRIBUTES* sa, bool map_whole_file);

    // Replaces the view; length 0 means up to the end of the file, and any
    // length is clipped to what the file has after offset.
    void map_view(std::uint64_t offset, std::uint32_t length);
    void close() noexcept;

    bool initialized() const noexcept override { return initialized_; }
    bool view_mapped() const noexcept override { return view_mapped_; }
    std::uint64_t size() const override;
    byte_view view() const override;
    std::uint32_t view_size() const;
    HANDLE mapping_handle() const noexcept { return mapping_.get(); }

private:
    void unmap() noexcept;

    win::file_handle owned_file_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    bool initialized_ = false;
    win::handle mapping_;
    std::uint64_t size_ = 0;
    bool view_mapped_ = false;
    const std::uint8_t* view_base_ = nullptr;
    const void* mapped_base_ = nullptr;  // what MapViewOfFile returned (view_base_ may lie after it)
    std::uint32_t view_size_ = 0;
};

}  // namespace qzr::files
