#include "net/simple_http_wrapper.hpp"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <optional>
#include <thread>

#include "environment/os_info.hpp"
#include "framework/errors.hpp"
#include "framework/text_format.hpp"
#include "framework/utf.hpp"
#include "net/proxy_settings.hpp"
#include "net/secure_protocols.hpp"
#include "net/winhttp_api.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::net {

namespace {

constexpr wchar_t user_agent[] = L"Kavro SimpleHttp/3.0";
constexpr DWORD connect_timeout = 30000, send_timeout = 15000, receive_timeout = 15000;
// A closed request handle reports its closing through the callback; a
// WinHTTP that never does must not hang the client.
constexpr DWORD handle_close_limit = 10000;
// Each asynchronous step is also bounded here, a little beyond the time-outs
// WinHTTP was given: a WinHTTP that does not apply one (some never time out
// the wait for a response's headers) must not hold the run up for ever.
constexpr DWORD step_margin = 5000;
constexpr DWORD receive_step_limit = receive_timeout + step_margin;

std::shared_ptr<void> share_internet_handle(HINTERNET h) {
    return std::shared_ptr<void>(h, [](void* p) { winhttp().WinHttpCloseHandle(p); });
}

bool at_least(std::uint32_t major, std::uint32_t minor) {
    const auto& os = environment::os_info();
    return os.major > major || (os.major == major && os.minor >= minor);
}

void wait_for(HANDLE event) {
    if (::WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0)
        win::raise_last_error(L"WaitForSingleObject has failed!");
}

bool set_proxy_option(HINTERNET handle, std::uint32_t access_type, const std::wstring& proxy) {
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = access_type;
    info.lpszProxy = proxy.empty() ? nullptr : const_cast<wchar_t*>(proxy.c_str());
    info.lpszProxyBypass = nullptr;
    return winhttp().WinHttpSetOption(handle, WINHTTP_OPTION_PROXY, &info, sizeof info) != FALSE;
}

// A response header's value, nullopt when the response has none. A value
// longer than any header WinHTTP would keep fails like any query.
std::optional<std::wstring> find_header(HINTERNET request, const std::wstring& name) {
    constexpr DWORD max_header_bytes = 1u << 16;
    DWORD size = 0;
    winhttp().WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), WINHTTP_NO_OUTPUT_BUFFER, &size,
                                  WINHTTP_NO_HEADER_INDEX);
    const DWORD error = ::GetLastError();
    if (error == ERROR_WINHTTP_HEADER_NOT_FOUND) return std::nullopt;
    if (error != ERROR_INSUFFICIENT_BUFFER || size > max_header_bytes)
        win::raise_last_error(L"Unable to query response headers!");
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!winhttp().WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), value.data(), &bytes,
                                       WINHTTP_NO_HEADER_INDEX))
        win::raise_last_error(L"Unable to query response headers!");
    value.resize(bytes / sizeof(wchar_t));
    return value;
}

win::handle new_event(bool manual_reset) {
    win::handle event(::CreateEventW(nullptr, manual_reset ? TRUE : FALSE, FALSE, nullptr));
    if (!event) win::raise_last_error(L"Unable to create a synchronization event!");
    return event;
}

}  // namespace

// Shared by the calling thread, the worker and WinHTTP's callback thread.
// The callback writes async_error and bytes_read before it sets step_done;
// the worker reads them after its wait. The caller reads worker_error only
// after headers_ready or finished.
struct simple_http_wrapper::request_state {
    HINTERNET request = nullptr;
    win::handle step_done = new_event(false);
    win::handle headers_ready = new_event(true);
    win::handle finished = new_event(true);
    win::handle handle_closed = new_event(true);
    win::handle cancel = new_event(true);
    std::atomic<DWORD> async_error{0};
    std::atomic<DWORD> bytes_read{0};
    std::atomic<DWORD> worker_error{0};
    // Set before headers_ready when the response's headers are in: a failure
    // after that (a sink refusing the status) does not hide the status.
    std::atomic<bool> headers_in{false};
    std::thread worker;
    std::vector<std::uint8_t> body;
    std::optional<std::vector<std::uint8_t>> memory;
    std::shared_ptr<types::stream_writter_intf> stream;
    DWORD read_buffer_size = 65536;
    // Lives with the request handle: WinHTTP may still write into it until
    // the handle is closed.
    std::vector<std::uint8_t> read_buffer;
    std::wstring target_file;
    DWORD so_far = 0;
    simple_http_progress_intf* progress = nullptr;

    // Stops a running worker and closes the request, so that nothing of the
    // previous request can still touch this state.
    void reset() {
        stop_worker();
        if (request) {
            winhttp().WinHttpCloseHandle(request);
            ::WaitForSingleObject(handle_closed.get(), handle_close_limit);
            request = nullptr;
        }
        for (const auto& e : {&step_done, &headers_ready, &finished, &handle_closed, &cancel}) ::ResetEvent(e->get());
        async_error = 0;
        bytes_read = 0;
        worker_error = 0;
        headers_in = false;
        body.clear();
        memory.reset();
        stream.reset();
        read_buffer.clear();
        read_buffer.shrink_to_fit();
        target_file.clear();
        so_far = 0;
    }

    // Cancels a worker that is still transferring and waits for it: once a
    // request has returned, nothing of it writes to its sink any more.
    void stop_worker() {
        if (!worker.joinable()) return;
        ::SetEvent(cancel.get());
        ::WaitForSingleObject(finished.get(), INFINITE);
        worker.join();
    }

    // The next asynchronous step: cancelled, failed, overdue or done.
    void wait_step(DWORD limit) {
        const HANDLE events[] = {cancel.get(), step_done.get()};
        const DWORD which = ::WaitForMultipleObjects(2, events, FALSE, limit);
        if (which == WAIT_OBJECT_0) throw exceptions::error(static_cast<std::int32_t>(operation_cancelled), "cancelled");
        if (which == WAIT_TIMEOUT) throw exceptions::error(ERROR_WINHTTP_TIMEOUT, "the server did not answer in time");
        if (which != WAIT_OBJECT_0 + 1) win::raise_last_error(L"WaitForSingleObject has failed!");
        if (const DWORD e = async_error.load()) throw exceptions::error(static_cast<std::int32_t>(e), "request failed");
    }

    void run() noexcept {
        try {
            transfer();
        } catch (const exceptions::detail::base& e) {
            worker_error = e.code() == -1 ? ERROR_INTERNAL_ERROR : static_cast<DWORD>(e.code());
        } catch (const std::bad_alloc&) {
            worker_error = ERROR_NOT_ENOUGH_MEMORY;
        } catch (...) {
            worker_error = ERROR_INTERNAL_ERROR;
        }
        ::SetEvent(headers_ready.get());
        ::SetEvent(finished.get());
    }

    void transfer() {
        void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : body.data();
        const DWORD size = static_cast<DWORD>(body.size());
        if (!winhttp().WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size, 0))
            win::raise_last_error(L"Unable to send the request!");
        wait_step(send_step_limit);
        if (!winhttp().WinHttpReceiveResponse(request, nullptr)) win::raise_last_error(L"Unable to receive the response!");
        wait_step(receive_step_limit);
        headers_in = true;
        ::SetEvent(headers_ready.get());
        // A request without a sink (POST) is over once its headers are in.
        if (!stream && !memory && target_file.empty()) return;

        const std::int64_t content_length = read_content_length();
        struct headers_of final : types::response_headers_intf {
            HINTERNET request;
            explicit headers_of(HINTERNET r) : request(r) {}
            std::optional<std::wstring> find(const std::wstring& name) const override {
                return find_header(request, name);
            }
        };
        if (stream && !stream->begin_with(read_status(), headers_of(request)))
            throw exceptions::error(static_cast<std::int32_t>(operation_cancelled), "refused by the sink");

        win::file_handle file;
        if (!target_file.empty()) {
            file.reset(::CreateFileW(target_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) win::raise_last_error(L"Unable to open file '%s'!", target_file);
        }
        read_buffer.resize(read_buffer_size);
        for (;;) {
            if (!winhttp().WinHttpReadData(request, read_buffer.data(), read_buffer_size, nullptr))
                win::raise_last_error(L"Unable to read the response!");
            wait_step(receive_step_limit);
            const DWORD n = bytes_read.load();
            if (n == 0) break;
            const std::uint8_t* chunk = read_buffer.data();
            if (stream) {
                if (!stream->write(chunk, n))
                    throw exceptions::error(static_cast<std::int32_t>(operation_cancelled), "refused by the sink");
            } else {
                if (memory) memory->insert(memory->end(), chunk, chunk + n);
                if (file) {
                    if (!win::write_all(file.get(), chunk, n))
                        win::raise_last_error(L"Unable to write to the file!");
                }
            }
            so_far += n;
            if (progress) progress->on_progress(n, so_far, content_length);
        }
        // Some WinHTTPs end a body cut short by the server as a clean read:
        // fewer bytes than announced is a failure, never a complete body.
        if (content_length > 0 && so_far != static_cast<std::uint64_t>(content_length))
            throw exceptions::error(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "incomplete response body");
    }

    // Name resolution, connection and sending, each within its own time-out.
    DWORD send_step_limit = 0;

    std::uint32_t read_status() const {
        DWORD status = 0, size = sizeof status;
        if (!winhttp().WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                   WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            win::raise_last_error(L"Unable to query response headers!");
        return status;
    }

    // The announced length; a response without one is refused, a value that
    // is not a decimal number within range counts as 0.
    std::int64_t read_content_length() const {
        wchar_t text[32] = {};
        DWORD size = sizeof text;
        if (!winhttp().WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                                   WINHTTP_NO_HEADER_INDEX))
            win::raise_last_error(L"Unable to query response headers!");
        const std::string digits = utf::to_utf8(text);
        std::int64_t value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return ec == std::errc() && end == digits.data() + digits.size() && value >= 0 ? value : 0;
    }
};

namespace {

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* s = reinterpret_cast<simple_http_wrapper::request_state*>(context);
    if (!s) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: ::SetEvent(s->handle_closed.get()); break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            s->async_error = 0;
            ::SetEvent(s->step_done.get());
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            s->bytes_read = length;
            s->async_error = 0;
            ::SetEvent(s->step_done.get());
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
            s->async_error = result && result->dwError ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
            ::SetEvent(s->step_done.get());
            break;
        }
        default: break;
    }
}

}  // namespace

std::wstring reencode_credential(const std::wstring& text, std::uint32_t code_page) {
    if (text.empty()) return text;
    const int bytes = ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    if (bytes <= 0) win::raise_last_error(L"Unable to convert credentials!");
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), narrow.data(), bytes, nullptr,
                          nullptr);
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, nullptr, 0);
    if (chars <= 0) win::raise_last_error(L"Unable to convert credentials!");
    std::wstring wide(static_cast<std::size_t>(chars), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, wide.data(), chars);
    return wide;
}

std::shared_ptr<simple_http_wrapper_intf> simple_http_wrapper::factory::create(std::uint32_t access_type,
                                                                               std::uint32_t resolve_timeout) const {
    return std::make_shared<simple_http_wrapper>(access_type, resolve_timeout);
}

simple_http_wrapper::simple_http_wrapper(std::uint32_t access_type, std::uint32_t resolve_timeout)
    : resolve_timeout_(resolve_timeout) {
    if (access_type == access::default_proxy && at_least(6, 3)) access_type = access::automatic_proxy;
    open_session(access_type, L"");
    state_ = std::make_unique<request_state>();
}

void simple_http_wrapper::open_session(std::uint32_t access_type, const std::wstring& proxy) {
    // "http://host:port" and "host:port" name the same proxy; some WinHTTPs
    // read only the second form.
    const std::wstring name = proxy.rfind(L"http://", 0) == 0 ? proxy.substr(7) : proxy;
    HINTERNET session = winhttp().WinHttpOpen(user_agent, access_type, name.empty() ? WINHTTP_NO_PROXY_NAME : name.c_str(),
                                      WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session) win::raise_last_error(L"Unable to initialize a WinHTTP session!");
    auto owned = share_internet_handle(session);

    // Before the first request: a session that kept the system's default
    // versions would meet servers that refuse them.
    DWORD refused = ERROR_SUCCESS;
    const std::uint32_t protocols = request_modern_tls([&](std::uint32_t flags) {
        DWORD value = flags;
        if (winhttp().WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &value, sizeof value)) return true;
        refused = ::GetLastError();
        return false;
    });
    if (!protocols) {
        ::SetLastError(refused);
        win::raise_last_error(L"Unable to set WinHTTP protocols (%08lx)!", static_cast<DWORD>(tls12_protocol));
    }

    if (!winhttp().WinHttpSetTimeouts(session, static_cast<int>(resolve_timeout_), connect_timeout, send_timeout,
                              receive_timeout))
        win::raise_last_error(L"Unable to set WinHTTP timeouts!");
    // The wait for a response's headers gets the receive time-out too; a
    // WinHTTP without the option is still bounded by the step limits.
    DWORD response_timeout = receive_timeout;
    winhttp().WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout, sizeof response_timeout);
    session_ = std::move(owned);
}

simple_http_wrapper::~simple_http_wrapper() {
    // No worker outlives the client, and no callback can reach its state.
    if (state_) state_->reset();
    connection_.reset();
    session_.reset();
}

void simple_http_wrapper::start(const url& u, const wchar_t* verb, const std::wstring& headers,
                                const std::function<void(request_state&)>& configure) {
    connection_.reset();
    HINTERNET connection = winhttp().WinHttpConnect(session_.get(), utf::from_utf8(u.host).c_str(), u.port, 0);
    if (!connection) win::raise_last_error(L"Unable to initialize a WinHTTP connection!");
    connection_ = share_internet_handle(connection);

    request_state& s = *state_;
    s.reset();
    std::wstring object = utf::from_utf8(u.path);
    if (!u.query.empty()) object += L"?" + utf::from_utf8(u.query);
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE;
    if (u.scheme == "https") flags |= WINHTTP_FLAG_SECURE;
    s.request = winhttp().WinHttpOpenRequest(connection, verb, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (!s.request) win::raise_last_error(L"Unable to initialize WinHTTP request!");
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&s);
    if (!winhttp().WinHttpSetOption(s.request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
        win::raise_last_error(L"Unable to set WinHTTP context!");
    if (winhttp().WinHttpSetStatusCallback(s.request, on_status, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK)
        win::raise_last_error(L"Unable to set WinHTTP status callback!");
    if (!headers.empty() && !winhttp().WinHttpAddRequestHeaders(s.request, headers.c_str(), static_cast<DWORD>(-1),
                                                        WINHTTP_ADDREQ_FLAG_ADD_IF_NEW))
        win::raise_last_error(L"Unable to add headers to the request!");
    if (!proxy_user_.empty()) {
        const std::wstring user = reencode_credential(proxy_user_, proxy_code_page_);
        const std::wstring password = reencode_credential(proxy_password_, proxy_code_page_);
        if (!winhttp().WinHttpSetCredentials(s.request, WINHTTP_AUTH_TARGET_PROXY, proxy_auth_scheme_, user.c_str(),
                                     password.c_str(), nullptr))
            win::raise_last_error(L"Unable to set proxy credentials!");
    }
    if (!server_user_.empty()) {
        const std::wstring user = reencode_credential(server_user_, server_code_page_);
        const std::wstring password = reencode_credential(server_password_, server_code_page_);
        if (!winhttp().WinHttpSetCredentials(s.request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                                     password.c_str(), nullptr))
            win::raise_last_error(L"Unable to set server credentials!");
    }
    configure(s);
    s.progress = progress_;
    const std::uint64_t send_limit = std::uint64_t{resolve_timeout_} + connect_timeout + send_timeout + step_margin;
    s.send_step_limit = static_cast<DWORD>(std::min<std::uint64_t>(send_limit, INFINITE - 1));
    s.worker = std::thread([&s] { s.run(); });
}

// A status of 0 ends the request: its worker is stopped before the caller
// gets the last error.
std::uint32_t simple_http_wrapper::await_status() {
    request_state& s = *state_;
    wait_for(s.headers_ready.get());
    DWORD error = 0, status = 0, size = sizeof status;
    if (!s.headers_in.load())
        error = s.worker_error.load();
    else if (!winhttp().WinHttpQueryHeaders(s.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        error = ::GetLastError();
    else
        return status;
    s.stop_worker();
    ::SetLastError(error);
    return 0;
}

// A transfer that ended in an error is a failure whatever the status said:
// a cut body must not pass as a complete one.
std::uint32_t simple_http_wrapper::await_body(std::uint32_t status) {
    request_state& s = *state_;
    wait_for(s.finished.get());
    if (const DWORD e = s.worker_error.load()) {
        ::SetLastError(e);
        return 0;
    }
    ::SetLastError(0);
    return status;
}

std::uint32_t simple_http_wrapper::get_to_stream(const url& u, const std::shared_ptr<types::stream_writter_intf>& sink,
                                                 std::uint32_t read_buffer_size, const std::wstring& headers) {
    state_->read_buffer_size = read_buffer_size ? read_buffer_size : 65536;
    start(u, L"GET", headers, [&](request_state& s) { s.stream = sink; });
    const std::uint32_t status = await_status();
    if (status == 0) return 0;
    // A part (206) comes only when a range was asked for; the sink judges it.
    if (status != 200 && status != 206) {
        // The body of a failure is not wanted: nothing reaches the sink.
        state_->stop_worker();
        ::SetLastError(0);
        return status;
    }
    return await_body(status);
}

std::uint32_t simple_http_wrapper::get_to_memory(const url& u, std::vector<std::uint8_t>& body,
                                                 const std::wstring& headers) {
    body.clear();
    start(u, L"GET", headers, [](request_state& s) { s.memory.emplace(); });
    const std::uint32_t status = await_status();
    if (status == 0) return 0;
    const std::uint32_t result = await_body(status);
    if (result != 0) body = std::move(*state_->memory);
    return result;
}

std::uint32_t simple_http_wrapper::get_to_file(const url& u, const std::wstring& file, const std::wstring& headers) {
    {
        win::file_handle created(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) return 0;  // the creation error stays the last error
    }
    start(u, L"GET", headers, [&](request_state& s) { s.target_file = file; });
    const std::uint32_t status = await_status();
    return status == 0 ? 0 : await_body(status);
}

std::uint32_t simple_http_wrapper::post(const url& u, const std::vector<std::uint8_t>& body,
                                        const std::wstring& headers) {
    start(u, L"POST", headers, [&](request_state& s) { s.body = body; });
    const std::uint32_t status = await_status();
    if (status != 0) ::SetLastError(0);
    return status;
}

std::wstring simple_http_wrapper::query_header(const std::wstring& name) {
    if (auto value = find_header(state_->request, name)) return std::move(*value);
    win::raise_last_error(L"Unable to query response headers!");
}

void simple_http_wrapper::set_session_proxy(std::uint32_t access_type, const std::wstring& proxy) {
    if (!set_proxy_option(session_.get(), access_type, proxy))
        win::raise_last_error(L"Unable to set WinHTTP proxy information!");
    // Some WinHTTPs accept the option on a session but only use the proxy a
    // session was opened with: the session is opened again with it, which is
    // the same session everywhere else. The previous request goes first, so
    // nothing still uses the old session.
    state_->reset();
    connection_.reset();
    open_session(access_type, proxy);
    proxy_ = proxy;
}

void simple_http_wrapper::set_proxy_settings(const http::ProxySettings& settings) {
    namespace type = http::proxy_type;
    switch (settings.proxy_type) {
        case type::none: set_session_proxy(access::no_proxy, L""); return;
        case type::preconfig: set_session_proxy(access::default_proxy, L""); return;
        case type::http:
        case type::https:
            proxy_ = text::format(L"%s://%s:%d", settings.proxy_type == type::https ? L"https" : L"http",
                                  utf::from_utf8(settings.proxy_name), settings.port);
            proxy_user_ = utf::from_utf8(settings.user_name);
            proxy_password_ = utf::from_utf8(settings.user_password);
            proxy_code_page_ = CP_UTF8;
            proxy_auth_scheme_ = settings.authorization == http::proxy_authorization::ntlm ? WINHTTP_AUTH_SCHEME_NTLM
                                                                                           : WINHTTP_AUTH_SCHEME_BASIC;
            set_session_proxy(access::named_proxy, proxy_);
            return;
        case type::socks:
        case type::socks5:
            throw exceptions::error(static_cast<std::int32_t>(unsupported_type),
                                    L"The WinHttp does not support to use the SOCKS protocol for communication with "
                                    L"the proxy server!");
        default:
            throw exceptions::error(static_cast<std::int32_t>(unsupported_type), L"Unsupported proxy type '%d'.",
                                    settings.proxy_type);
    }
}

void simple_http_wrapper::set_proxy(const std::wstring& proxy, const std::wstring& user, const std::wstring& password,
                                    std::uint32_t credential_code_page) {
    proxy_ = proxy;
    set_session_proxy(proxy.empty() ? access::no_proxy : access::named_proxy, proxy);
    proxy_user_ = user;
    proxy_password_ = password;
    proxy_code_page_ = credential_code_page;
}

void simple_http_wrapper::set_progress(simple_http_progress_intf* progress) { progress_ = progress; }

}  // namespace qzr::net
