// Fetching repository files: every object is LZMA-compressed and signed;
// setup files are addressed by their digest. Each download goes to a
// delete-on-close temporary file beside its target, is checked, then decoded.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "net/range_resume.hpp"
#include "net/simple_http_wrapper.hpp"
#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/network/sfx_downloader_intf.hpp"
#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"

namespace qzr::sfx {

// The repository path of a setup file by its digest text:
// "0123/4567/89ab/<digest>.lzma" for a digest beginning 0123456789ab.
std::wstring repository_object_path(const std::wstring& digest);

// The URLs tried for a repository address: itself when it names a scheme,
// else https:// and then http:// before it.
std::vector<std::wstring> candidate_urls(const std::wstring& address);

// Writes a 200 response to an open file; refuses any other status.
class file_stream_writter final : public types::stream_writter_intf {
public:
    explicit file_stream_writter(void* file) : file_(file) {}
    bool begin(std::uint32_t http_status) override { return http_status == 200; }
    bool write(const std::uint8_t* data, std::uint64_t size) override;

private:
    void* file_;
};

// Writes a response to a candidate's temporary file across passes: a whole
// body (200) from byte 0, or the rest of what the file holds (a 206 that
// continues it exactly); anything else is refused and the part is dropped.
class continuing_file_writter final : public types::stream_writter_intf {
public:
    // held describes the file and is kept up to date; continued_from gets
    // the offset the body is written at, for progress.
    continuing_file_writter(void* file, net::resume::partial& held, std::atomic<std::uint64_t>& continued_from)
        : file_(file), held_(held), continued_from_(continued_from) {}
    bool begin(std::uint32_t http_status) override { return http_status == 200; }
    bool begin_with(std::uint32_t http_status, const types::response_headers_intf& headers) override;
    bool write(const std::uint8_t* data, std::uint64_t size) override;

private:
    // Cuts the file at size, with the next write there.
    bool cut_at(std::uint64_t size);

    void* file_;
    net::resume::partial& held_;
    std::atomic<std::uint64_t>& continued_from_;
};

class sfx_downloader final : public sfx_downloader_intf, private net::simple_http_progress_intf {
public:
    struct collaborators {
        std::shared_ptr<const net::simple_http_wrapper::factory> http;
        std::shared_ptr<const verify_signature_intf::factory> verifier;
        std::shared_ptr<const product_info_parser_intf::factory> product_info;
    };

    struct factory : sfx_downloader_intf::factory {
        explicit factory(collaborators c) : c_(std::move(c)) {}
        std::shared_ptr<sfx_downloader_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<sfx_downloader>(context, c_);
        }

    private:
        collaborators c_;
    };

    sfx_downloader(const sfx_data_holder& context, collaborators c) : context_(context), c_(std::move(c)) {}

    std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring& url) override;
    file_hold download_product_lzma_file(const std::wstring& sha, const std::wstring& target,
                                         const std::wstring& expected_sha) override;
    void download_file(const std::wstring& url, const std::wstring& target, int attempts, bool verify,
                       bool log_transfer) override;
    void set_progress_callback(progress_callback callback) override;
    double average_speed() const override;

private:
    // The bytes of url in a delete-on-close temporary file named prefix +
    // a GUID, its signature checked; the returned handle owns the file.
    std::shared_ptr<void> download_internal(const std::wstring& url, const std::wstring& prefix, int attempts,
                                            bool log_transfer);
    // One candidate's temporary file and what it holds, kept across passes
    // while it can be continued.
    struct candidate_file {
        std::shared_ptr<void> file;
        net::resume::partial held;
    };
    // The HTTP status (200, or 206 for a completed continuation); when no
    // response came (status 0), transport_error gets the system's error.
    std::uint32_t do_download(net::simple_http_wrapper_intf& client, const net::url& u, candidate_file& into,
                              bool log_transfer, std::uint32_t& transport_error);
    void on_progress(std::uint32_t chunk, std::uint32_t so_far, std::int64_t content_length) override;

    sfx_data_holder context_;
    collaborators c_;
    mutable std::mutex lock_;  // the progress callback runs on the HTTP worker
    progress_callback progress_;
    // Where the body in transfer starts within its file: progress counts
    // against the whole file.
    std::atomic<std::uint64_t> continued_from_{0};
    std::vector<double> speeds_;
    double average_speed_ = 0;
};

}  // namespace qzr::sfx
