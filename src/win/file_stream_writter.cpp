#include "win/file_stream_writter.hpp"

#include <limits>

#include "win/file_system.hpp"
#include "win/system_error.hpp"

namespace qzr::packers {

void file_stream_writter::write(const std::uint8_t* data, std::size_t size) {
    if (!win::write_all(file_, data, size)) win::raise_last_error(L"Unable to write uncompressed data to the disk!");
}

void file_stream_writter::set_size(std::uint64_t size) {
    LARGE_INTEGER zero{}, position{};
    if (!::SetFilePointerEx(file_, zero, &position, FILE_CURRENT))
        win::raise_last_error(L"Unable to retrieve the file pointer!");
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(std::min<std::uint64_t>(size, std::numeric_limits<LONGLONG>::max()));
    if (!::SetFilePointerEx(file_, target, nullptr, FILE_BEGIN)) win::raise_last_error(L"Unable to set the file pointer!");
    if (!::SetEndOfFile(file_)) {
        const std::int32_t code = win::last_error();
        ::SetFilePointerEx(file_, position, nullptr, FILE_BEGIN);
        throw exceptions::error(code, L"Unable to set size of file to %lld bytes!", static_cast<long long>(size));
    }
    if (!::SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) win::raise_last_error(L"Unable to set the file pointer!");
}

}  // namespace qzr::packers
