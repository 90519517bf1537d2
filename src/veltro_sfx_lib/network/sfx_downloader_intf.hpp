// Fetching from the product repository what the payload does not carry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"

namespace qzr::sfx {

class product_info_parser_intf;

class sfx_downloader_intf {
public:
    // (bytes of this chunk, content length or 0 when unknown)
    using progress_callback = std::function<void(std::uint64_t chunk, std::uint64_t length)>;

    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_downloader_intf> create(const sfx_data_holder& context) const = 0;
    };

    virtual ~sfx_downloader_intf() = default;
    // A product's compressed, signed product-info.xml, parsed.
    virtual std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring& url) = 0;
    // A setup file addressed by its digest, decompressed to target, and
    // returned held (see placed_files), checked through that hold.
    virtual file_hold download_product_lzma_file(const std::wstring& sha, const std::wstring& target,
                                                 const std::wstring& expected_sha) = 0;
    // Any compressed file of the repository, decompressed to target.
    virtual void download_file(const std::wstring& url, const std::wstring& target, int attempts, bool verify,
                               bool log_transfer) = 0;
    virtual void set_progress_callback(progress_callback callback) = 0;
    virtual double average_speed() const = 0;
};

}  // namespace qzr::sfx
