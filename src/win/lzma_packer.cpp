#include "win/lzma_packer.hpp"

#include "framework/lzma_codec.hpp"
#include "win/file_source.hpp"
#include "win/file_stream_writter.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::packers {

namespace {

void require(bool ok) {
    if (!ok) throw exceptions::error(exceptions::invalid_parameter_code, "Missing LZMA input or output");
}

bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

win::file_handle create_output(const std::wstring& path) {
    win::file_handle out(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) win::raise_last_error(L"Unable to create file '%ls'!", path);
    return out;
}

void delete_on_close(HANDLE file) noexcept {
    FILE_DISPOSITION_INFO info{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info);
}

}  // namespace

void lzma_packer::unpack_file(const std::wstring& input, const std::wstring& output) const {
    win::file_handle in(::CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) win::raise_last_error(L"Unable to open file '%ls'!", input);
    win::file_handle out = create_output(output);
    try {
        unpack_handle(in.get(), out.get());
    } catch (...) {
        delete_on_close(out.get());
        throw;
    }
}

void lzma_packer::unpack_handle(HANDLE input, HANDLE output) const {
    require(valid(input) && valid(output));
    // Streamed through a bounded buffer: the input may be larger than the
    // address space a 32-bit process has to spare for a mapping.
    files::file_source source(input);
    file_stream_writter writer(output);
    lzma_decode(source, &writer, nullptr);
}

void lzma_packer::unpack_buffer_to_path(const std::uint8_t* data, std::size_t size, const std::wstring& output) const {
    require(data != nullptr || size == 0);
    win::file_handle out = create_output(output);
    try {
        unpack_buffer_to_file(data, size, out.get());
    } catch (...) {
        delete_on_close(out.get());
        throw;
    }
}

void lzma_packer::unpack_buffer_to_file(const std::uint8_t* data, std::size_t size, HANDLE output) const {
    require((data != nullptr || size == 0) && valid(output));
    file_stream_writter writer(output);
    lzma_decode(byte_view(data, size), &writer, nullptr);
}

std::vector<std::uint8_t> lzma_packer::unpack_buffer(const std::uint8_t* data, std::size_t size) const {
    require(data != nullptr || size == 0);
    return lzma_decode(byte_view(data, size));
}

}  // namespace qzr::packers
