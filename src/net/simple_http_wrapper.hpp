// The system's only HTTP(S) client: a synchronous facade over asynchronous
// WinHTTP. Each request is driven by a worker thread woken by WinHTTP's
// status callback, while the calling thread waits for the headers and then
// the body.
//
// Requests (get_to_*, post) return the HTTP status with the thread's last
// error set to 0; a transport failure returns 0 with the Windows or WinHTTP
// error as the thread's last error. Setting up a request, the proxy calls,
// query_header and the factory raise the system's error instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/stream_writter.hpp"
#include "net/url.hpp"

namespace qzr::http {
class ProxySettings;
}

namespace qzr::net {

class simple_http_progress_intf {
public:
    virtual ~simple_http_progress_intf() = default;
    // content_length is 0 when the response did not announce one.
    virtual void on_progress(std::uint32_t chunk, std::uint32_t so_far, std::int64_t content_length) = 0;
};

class simple_http_wrapper_intf {
public:
    virtual std::uint32_t get_to_stream(const url& u, const std::shared_ptr<types::stream_writter_intf>& sink,
                                        std::uint32_t read_buffer_size, const std::wstring& headers) = 0;
    virtual std::uint32_t get_to_memory(const url& u, std::vector<std::uint8_t>& body, const std::wstring& headers) = 0;
    virtual std::uint32_t get_to_file(const url& u, const std::wstring& file, const std::wstring& headers) = 0;
    virtual std::wstring query_header(const std::wstring& name) = 0;
    virtual void set_proxy_settings(const http::ProxySettings& settings) = 0;
    virtual void set_proxy(const std::wstring& proxy, const std::wstring& user, const std::wstring& password,
                           std::uint32_t credential_code_page) = 0;
    virtual std::uint32_t post(const url& u, const std::vector<std::uint8_t>& body, const std::wstring& headers) = 0;
    virtual void set_progress(simple_http_progress_intf* progress) = 0;
    virtual ~simple_http_wrapper_intf() = default;
};

// WinHTTP access types and proxy authentication schemes the client uses.
namespace access {
inline constexpr std::uint32_t default_proxy = 0;
inline constexpr std::uint32_t no_proxy = 1;
inline constexpr std::uint32_t named_proxy = 3;
inline constexpr std::uint32_t automatic_proxy = 4;
}  // namespace access

// Error of a transfer ended by cancellation (a sink refused, or the client
// went away).
inline constexpr std::uint32_t operation_cancelled = 12017;
// Error of a response that breaks its own framing (a body shorter or
// longer than announced).
inline constexpr std::uint32_t invalid_server_response = 12152;
// Error of a proxy kind the client cannot use (SOCKS, unknown types).
inline constexpr std::uint32_t unsupported_type = 1630;

// Credentials as WinHTTP must be handed them so that the bytes it sends for
// basic authentication are the text's bytes in code_page: encoded into
// code_page, then widened again through the system's ANSI code page (the one
// WinHTTP narrows them with).
std::wstring reencode_credential(const std::wstring& text, std::uint32_t code_page);

class simple_http_wrapper final : public simple_http_wrapper_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // access_type: a WinHTTP access type; resolve_timeout in ms.
        virtual std::shared_ptr<simple_http_wrapper_intf> create(std::uint32_t access_type,
                                                                 std::uint32_t resolve_timeout) const;
    };

    simple_http_wrapper(std::uint32_t access_type, std::uint32_t resolve_timeout);
    ~simple_http_wrapper() override;
    simple_http_wrapper(const simple_http_wrapper&) = delete;
    simple_http_wrapper& operator=(const simple_http_wrapper&) = delete;

    std::uint32_t get_to_stream(const url& u, const std::shared_ptr<types::stream_writter_intf>& sink,
                                std::uint32_t read_buffer_size, const std::wstring& headers) override;
    std::uint32_t get_to_memory(const url& u, std::vector<std::uint8_t>& body, const std::wstring& headers) override;
    std::uint32_t get_to_file(const url& u, const std::wstring& file, const std::wstring& headers) override;
    std::wstring query_header(const std::wstring& name) override;
    void set_proxy_settings(const http::ProxySettings& settings) override;
    void set_proxy(const std::wstring& proxy, const std::wstring& user, const std::wstring& password,
                   std::uint32_t credential_code_page) override;
    std::uint32_t post(const url& u, const std::vector<std::uint8_t>& body, const std::wstring& headers) override;
    void set_progress(simple_http_progress_intf* progress) override;

    struct request_state;

private:
    // Connects, opens and starts one request; configure fills the request's
    // body or sink before its worker starts. Raises on a set-up failure.
    void start(const url& u, const wchar_t* verb, const std::wstring& headers,
               const std::function<void(request_state&)>& configure);
    // Waits for the headers; 0 with the last error set on failure.
    std::uint32_t await_status();
    std::uint32_t await_body(std::uint32_t status);
    void open_session(std::uint32_t access_type, const std::wstring& proxy);
    void set_session_proxy(std::uint32_t access_type, const std::wstring& proxy);

    std::uint32_t resolve_timeout_;
    std::shared_ptr<void> session_;
    std::shared_ptr<void> connection_;
    std::unique_ptr<request_state> state_;
    std::wstring proxy_;
    std::wstring proxy_user_, proxy_password_;
    std::uint32_t proxy_code_page_ = 65001;
    std::uint32_t proxy_auth_scheme_ = 1;  // basic
    std::wstring server_user_, server_password_;
    std::uint32_t server_code_page_ = 65001;
    simple_http_progress_intf* progress_ = nullptr;
};

}  // namespace qzr::net
