#include "veltro_sfx_lib/network/sfx_downloader.hpp"

#include <windows.h>

#include <chrono>
#include <cwctype>
#include <numeric>

#include "environment/os_info.hpp"
#include "framework/digest.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "win/file_source.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/hash_file.hpp"
#include "win/lzma_packer.hpp"
#include "win/system_error.hpp"

namespace qzr::sfx {

namespace {

constexpr std::uint32_t read_buffer_size = 65536;
constexpr std::int32_t too_big_code = 111;

std::uint32_t access_type(bool has_proxy) {
    if (has_proxy) return net::access::no_proxy;
    const auto& os = environment::os_info();
    return os.major > 6 || (os.major == 6 && os.minor >= 3) ? net::access::automatic_proxy : net::access::default_proxy;
}

void mark_for_deletion(HANDLE file) noexcept {
    FILE_DISPOSITION_INFO info{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info);
}

std::shared_ptr<void> share_file(HANDLE h) {
    return std::shared_ptr<void>(h, [](void* p) { ::CloseHandle(p); });
}

std::int64_t parse_length(const std::wstring& text) {
    try {
        std::size_t used = 0;
        const long long value = std::stoll(text, &used, 10);
        return used == text.size() ? value : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

std::wstring repository_object_path(const std::wstring& digest) {
    // The digest text comes from a document and becomes part of a URL: only
    // hex digits may pass, or "../" could walk the repository server.
    const bool hex = std::all_of(digest.begin(), digest.end(), [](wchar_t c) { return std::iswxdigit(c) != 0; });
    if (digest.size() < 8 || !hex)
        throw qzr::exceptions::error(qzr::exceptions::invalid_data_code, L"Invalid file hash '%ls'!", digest);
    return digest.substr(0, 4) + L"/" + digest.substr(4, 4) + L"/" + digest.substr(8, 4) + L"/" + digest + L".lzma";
}

std::vector<std::wstring> candidate_urls(const std::wstring& address) {
    if (address.find(L"://") != std::wstring::npos) return {address};
    return {text::format(L"%s://%s", L"https", address), text::format(L"%s://%s", L"http", address)};
}

bool file_stream_writter::write(const std::uint8_t* data, std::uint64_t size) {
    if (size >= 0xFFFFFFFFull) throw exceptions::download_file_fail(too_big_code, L"Too big number of bytes to write.");
    if (!win::write_all(file_, data, size))
        throw exceptions::download_file_fail(static_cast<std::int32_t>(::GetLastError()),
                                             L"Unable to write to the file");
    return true;
}

bool continuing_file_writter::cut_at(std::uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_);
}

bool continuing_file_writter::begin_with(std::uint32_t http_status, const types::response_headers_intf& headers) {
    net::resume::response_facts r;
    r.status = http_status;
    // A length that is not a number reads as 0, which no part can have.
    const auto length = headers.find(L"Content-Length");
    r.content_length = length ? parse_length(*length) : -1;
    r.content_range = headers.find(L"Content-Range");
    r.etag = headers.find(L"ETag");
    r.last_modified = headers.find(L"Last-Modified");
    switch (net::resume::judge(held_, r)) {
        case net::resume::verdict::append:
            // Whatever a failed write may have left past the part goes.
            if (!cut_at(held_.bytes)) break;
            continued_from_ = held_.bytes;
            return true;
        case net::resume::verdict::fresh:
            if (!cut_at(0)) break;
            held_ = {0, static_cast<std::uint64_t>(std::max<std::int64_t>(r.content_length, 0)),
                     net::resume::validator_of(r)};
            continued_from_ = 0;
            return true;
        case net::resume::verdict::refuse: break;
    }
    held_ = {};
    return false;
}

// A body longer than announced cannot pass: the transfer checks its length,
// and the download checks that the file ends up exactly as long as the whole.
// What a failed write leaves past the part goes when the part is continued.
bool continuing_file_writter::write(const std::uint8_t* data, std::uint64_t size) {
    file_stream_writter(file_).write(data, size);
    held_.bytes += size;
    return true;
}

std::shared_ptr<void> sfx_downloader::download_internal(const std::wstring& url, const std::wstring& prefix,
                                                        int attempts, bool log_transfer) {
    try {
        const bool has_proxy = context_.proxy && context_.proxy->has_settings();
        auto client = c_.http->create(access_type(has_proxy), 0);
        if (has_proxy) client->set_proxy_settings(context_.proxy->settings());
        client->set_progress(this);
        const std::vector<std::wstring> candidates = candidate_urls(url);
        // A candidate cut off after part of its body keeps its file for the
        // next pass, which asks for the rest; any other failure drops it.
        std::vector<candidate_file> files(candidates.size());
        std::uint32_t status = 0, transport_error = 0;
        for (int pass = 0; pass < attempts; ++pass) {
            for (std::size_t i = 0; i < candidates.size(); ++i) {
                candidate_file& into = files[i];
                if (!into.file || !into.held.continuable()) {
                    into = {};
                    const std::wstring name = prefix + uuid::to_wstring(uuid::random_uuid());
                    const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                   nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
                    if (h == INVALID_HANDLE_VALUE)
                        throw exceptions::download_file_fail(static_cast<std::int32_t>(::GetLastError()),
                                                             L"Unable to create temporary file '%s'", name);
                    into.file = share_file(h);
                }
                status = do_download(*client, net::crack(candidates[i]), into, log_transfer, transport_error);
                if (status == 200 || status == 206) return into.file;
                if (!into.held.continuable()) into = {};  // closing deletes it
            }
        }
        files.clear();
        client.reset();
        // Nothing answered: the failure carries why (12029 when the server
        // could not be reached), not a status of 0.
        const std::uint32_t code = status != 0 ? status : transport_error;
        throw exceptions::download_file_fail(static_cast<std::int32_t>(code), L"Download file '%s' failed", url);
    } catch (const qzr::exceptions::detail::base& e) {
        if (log_transfer) QZR_LOG_WARNING(L"Download file '%s' failed: %s (%d)", url, utf::from_utf8(e.what()), e.code());
        throw exceptions::download_file_fail(e.code(), L"Download file '%s' failed", url);
    }
}

std::uint32_t sfx_downloader::do_download(net::simple_http_wrapper_intf& client, const net::url& u,
                                          candidate_file& into, bool log_transfer, std::uint32_t& transport_error) {
    void* const file = into.file.get();
    const std::wstring shown = utf::from_utf8(net::to_string(u));
    const std::wstring range = net::resume::request_headers(into.held);
    if (!range.empty())
        QZR_LOG_INFO(L"Download of '%s' continues at byte %llu of %llu.", shown,
                     static_cast<unsigned long long>(into.held.bytes), static_cast<unsigned long long>(into.held.total));
    const auto start = std::chrono::steady_clock::now();
    continued_from_ = 0;
    std::uint32_t status = client.get_to_stream(
        u, std::make_shared<continuing_file_writter>(file, into.held, continued_from_), read_buffer_size, range);
    transport_error = ::GetLastError();
    // Complete means every byte of the file: a continuation is checked as a
    // whole like any download.
    if ((status == 200 || status == 206) && into.held.total != 0 && into.held.bytes != into.held.total) {
        into.held = {};
        status = 0;
        transport_error = net::invalid_server_response;
    }
    if (status == 206) status = 200;
    if (status != 200) {
        if (log_transfer && status != 0)
            QZR_LOG_WARNING(L"Download of '%s' failed. HTTP result '%d'.", shown, static_cast<std::int32_t>(status));
        else if (log_transfer)
            QZR_LOG_WARNING(L"Download of '%s' failed. Last error '%u'.", shown, transport_error);
        return status;
    }
    const std::int64_t length = parse_length(client.query_header(L"Content-Length"));
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 1000.0;
    double current = 0, average = 0;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (elapsed > 0 && length > 0) {
            current = static_cast<double>(length) / 1048576.0 / elapsed;
            speeds_.push_back(current);
            average_speed_ = std::accumulate(speeds_.begin(), speeds_.end(), 0.0) / static_cast<double>(speeds_.size());
        }
        average = average_speed_;
    }
    QZR_LOG_INFO(L"Download of '%s' succeeded. (speed current: %6.4lf, total: %6.4lf)", shown, current, average);
    if (!c_.verifier->create()->dsa_signed_handle(file)) {
        if (log_transfer) QZR_LOG_ERROR(L"DSA verification check of downloaded LZMA file (url %s) fail", shown);
        throw exceptions::download_file_invalid_signature(L"DSA signature of LZMA file is invalid:'%s'", shown);
    }
    return status;
}

void sfx_downloader::download_file(const std::wstring& url, const std::wstring& target, int attempts, bool verify,
                                   bool log_transfer) {
    const auto downloaded = download_internal(url, target, attempts, log_transfer);
    win::file_handle out(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) win::raise_last_error(L"Unable to create file '%ls'!", target);
    try {
        packers::lzma_packer().unpack_handle(downloaded.get(), out.get());
        // Checked through the handle that wrote it: nobody can change the
        // file between its check and its closing.
        if (verify && !c_.verifier->create()->dsa_signed_handle(out.get())) {
            QZR_LOG_ERROR(L"DSA verification check of downloaded veltro_mod.dll (url %s) fail", url);
            throw exceptions::download_file_invalid_signature(L"DSA signature of veltro_mod.dll is invalid:'%s'", url);
        }
    } catch (...) {
        mark_for_deletion(out.get());
        throw;
    }
}

file_hold sfx_downloader::download_product_lzma_file(const std::wstring& sha, const std::wstring& target,
                                                     const std::wstring& expected_sha) {
    const std::wstring base = context_.params ? context_.params->get(keys::base_url, L"") : std::wstring();
    if (base.empty()) {
        QZR_LOG_ERROR(L"Base url path is undefined.");
        throw exceptions::download_file_fail(L"Base url path is undefined.");
    }
    download_file(base + L"/universe/" + repository_object_path(sha), target, 3, false, true);
    // The digest is read through the hold, which denies writers from here on:
    // what was checked is what stays until the hold goes.
    file_hold placed;
    try {
        placed = win::open_placed(target);
        if (expected_sha.empty()) {
            QZR_LOG_ERROR(L"Missing hash info for '%s'", target);
            return placed;
        }
        if (root::hash_file(placed.get()) == root::digest::from_hex(expected_sha)) return placed;
    } catch (...) {
        placed.reset();
        ::DeleteFileW(target.c_str());
        throw;
    }
    // A file that is not what the product-info names does not stay.
    placed.reset();
    ::DeleteFileW(target.c_str());
    QZR_LOG_ERROR(L"Fail unpack data, wrong checksum ('%s', hash:%s)", target, expected_sha);
    throw qzr::exceptions::error(qzr::exceptions::invalid_data_code, L"Fail unpack data, wrong checksum ('%s', hash:%s)",
                                 target, expected_sha);
}

std::shared_ptr<product_info_parser_intf> sfx_downloader::download_product_info(const std::wstring& url) {
    const std::wstring tmp = context_.params ? context_.params->get(keys::tmp_path, L"") : std::wstring();
    const std::wstring prefix = path::join(path::join(tmp, L"common"), uuid::to_wstring(uuid::random_uuid()));
    const auto downloaded = download_internal(url, prefix, 3, true);
    files::file_source container(downloaded.get());
    std::vector<std::uint8_t> data;
    packers::lzma_decode(container, nullptr, &data);
    if (data.empty()) {
        QZR_LOG_ERROR(L"Downloaded product-info.xml (url %s) is empty.", url);
        throw exceptions::download_file_fail(qzr::exceptions::invalid_data_code,
                                             L"Downloaded product-info.xml (url %s) is empty.", url);
    }
    if (!c_.verifier->create()->dsa_signed_block(data.data(), data.size())) {
        QZR_LOG_ERROR(L"DSA verification check of downloaded data product-info.xml (url %s) fail.", url);
        throw exceptions::download_file_invalid_signature(L"DSA signature is invalid:'%s'.", url);
    }
    auto parser = c_.product_info->create(context_);
    parser->parse_data(data);
    return parser;
}

void sfx_downloader::set_progress_callback(progress_callback callback) {
    const std::lock_guard<std::mutex> guard(lock_);
    progress_ = std::move(callback);
}

double sfx_downloader::average_speed() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return average_speed_;
}

void sfx_downloader::on_progress(std::uint32_t chunk, std::uint32_t, std::int64_t content_length) {
    progress_callback callback;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        callback = progress_;
    }
    // A continued body announces only its rest: the whole file is its start plus that.
    const std::uint64_t length = static_cast<std::uint64_t>(std::max<std::int64_t>(content_length, 0));
    if (callback) callback(chunk, length ? length + continued_from_.load() : 0);
}

}  // namespace qzr::sfx
