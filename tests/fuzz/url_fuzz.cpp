// Fuzz driver for the pure part of the URL cracker: the parts as the system's
// cracker delivers them turned into the value type, and the value printed
// back. The input is the port (two bytes, little-endian), then scheme, host,
// path and extra information (query and fragment) as UTF-8 lines; the whole
// input is the text the errors quote. Seeds: URLs of the tests (make_seeds).
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/errors.hpp"
#include "framework/utf.hpp"
#include "fuzz_support.hpp"
#include "net/url.hpp"

using namespace qzr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint16_t port = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    fuzz::fields in(data + 2, size - 2);
    const std::wstring scheme = utf::from_utf8(in.next());
    const std::wstring host = utf::from_utf8(in.next());
    const std::wstring path = utf::from_utf8(in.next());
    const std::wstring extra = utf::from_utf8(in.rest());
    const std::wstring text = utf::from_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        const net::url u = net::from_components(text, scheme, host, port, path, extra);
        (void)net::to_string(u);
    } catch (const exceptions::error&) {
    }
    return 0;
}
