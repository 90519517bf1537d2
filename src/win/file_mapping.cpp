#include "win/file_mapping.hpp"

#include <limits>

#include "win/system_error.hpp"

namespace qzr::files {

void file_mapping::open(HANDLE file, SECURITY_ATTRIBUTES* sa, bool map_whole_file) {
    close();
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        throw exceptions::error(exceptions::invalid_parameter_code, "file handle is null");
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) win::raise_last_error(L"Unable to get file size!");
    file_ = file;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    if (size_ != 0) {
        mapping_.reset(::CreateFileMappingW(file, sa, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping_) win::raise_last_error(L"Unable to create file mapping!");
    }
    initialized_ = true;
    if (map_whole_file) map_view(0, 0);
}

void file_mapping::open_owned(win::file_handle file, SECURITY_ATTRIBUTES* sa, bool map_whole_file) {
    const HANDLE h = file.get();
    open(h, sa, map_whole_file);
    owned_file_ = std::move(file);
}

void file_mapping::map_view(std::uint64_t offset, std::uint32_t length) {
    if (!initialized_) throw exceptions::error("Unable to map a view of uninitialized mapping!");
    if (offset > size_)
        throw exceptions::error(exceptions::access_denied_code, "Unable to map a view outside of the file mapping!");
    const std::uint64_t left = size_ - offset;
    std::uint64_t want = length == 0 ? left : std::min<std::uint64_t>(length, left);
    if (want > std::numeric_limits<std::uint32_t>::max() || want > std::numeric_limits<SIZE_T>::max())
        throw exceptions::error(exceptions::invalid_parameter_code, "narrowing_error");
    unmap();
    if (want == 0) {
        view_mapped_ = true;
        return;
    }
    // Views start on the allocation granularity; a view asked for at any
    // other offset is mapped from the boundary before it.
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    const std::uint64_t skip = offset % si.dwAllocationGranularity;
    const std::uint64_t start = offset - skip;
    // The boundary's bytes count too: a view near 4 GiB long must not wrap
    // to a short one in a 32-bit process.
    if (want + skip > std::numeric_limits<SIZE_T>::max())
        throw exceptions::error(exceptions::invalid_parameter_code, "narrowing_error");
    void* base = ::MapViewOfFile(mapping_.get(), FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                                 static_cast<DWORD>(start), static_cast<SIZE_T>(want + skip));
    if (!base) win::raise_last_error(L"Unable to create mapping view!");
    mapped_base_ = base;
    view_base_ = static_cast<const std::uint8_t*>(base) + skip;
    view_size_ = static_cast<std::uint32_t>(want);
    view_mapped_ = true;
}

void file_mapping::unmap() noexcept {
    if (mapped_base_) ::UnmapViewOfFile(mapped_base_);
    mapped_base_ = nullptr;
    view_base_ = nullptr;
    view_size_ = 0;
    view_mapped_ = false;
}

void file_mapping::close() noexcept {
    unmap();
    mapping_.reset();
    owned_file_.reset();
    file_ = INVALID_HANDLE_VALUE;
    initialized_ = false;
    size_ = 0;
}

std::uint64_t file_mapping::size() const {
    if (!initialized_) throw exceptions::error("Unable to retrieve size of uninitialized mapping!");
    return size_;
}

byte_view file_mapping::view() const {
    if (!view_mapped_) throw exceptions::error("Unable to retrieve pointer of the unmapped view!");
    return byte_view(view_base_, view_size_);
}

std::uint32_t file_mapping::view_size() const {
    if (!view_mapped_) throw exceptions::error("Unable to retrieve size of unmapped view!");
    return view_size_;
}

}  // namespace qzr::files
