// Fuzz driver for the proxy.ini reader: the file's bytes in any of the
// encodings it accepts (UTF-16 LE or BE behind a mark, UTF-8 with or without
// one). Reading never fails; the record written back for the setup master
// reads as itself once the writer has normalised its text.
// Seeds: files as the stub writes them and as users edit them (make_seeds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "net/proxy_settings.hpp"

using namespace qzr;

namespace {

bool same(const http::ProxySettings& a, const http::ProxySettings& b) {
    return a.proxy_type == b.proxy_type && a.authorization == b.authorization && a.port == b.port &&
           a.proxy_name == b.proxy_name && a.user_name == b.user_name && a.user_password == b.user_password &&
           a.fallback == b.fallback;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const http::ProxySettings read = http::parse_proxy_ini(std::span(data, size));
    // The first write may replace text that is not valid UTF-8; from then on
    // writing and reading is lossless.
    const http::ProxySettings written = http::parse_proxy_ini(http::serialize_proxy_ini(read));
    if (!same(written, http::parse_proxy_ini(http::serialize_proxy_ini(written)))) std::abort();
    // Numbers, the flag and the password's bytes survive even the first write.
    if (read.proxy_type != written.proxy_type || read.authorization != written.authorization ||
        read.port != written.port || read.user_password != written.user_password || read.fallback != written.fallback)
        std::abort();
    return 0;
}
