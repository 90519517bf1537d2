#include "receiver.hpp"

#include <httplib.h>
#include <strings.h>
#include <sys/socket.h>

#include <memory>
#include <stdexcept>

#include "batch_writer.hpp"
#include "event_record.hpp"
#include "privacy.hpp"

namespace qzr::collect {

std::string normalise_prefix(const std::string& prefix) {
    std::string p = prefix;
    while (!p.empty() && p.back() == '/') p.pop_back();
    if (!p.empty() && p.front() != '/') p.insert(p.begin(), '/');
    for (const char c : p) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                        c == '-' || c == '_' || c == '.' || c == '~';
        if (!ok) throw std::invalid_argument("the path prefix may hold letters, digits, '/', '-', '_', '.' and '~' only");
    }
    if (p.find("//") != std::string::npos) throw std::invalid_argument("the path prefix has an empty segment");
    return p;
}

void configure_server(httplib::Server& server, std::size_t threads) {
    if (threads == 0) threads = 1;
    // The library listens with room for 5 connections not yet accepted. A
    // burst of new ones (every stub opens its own) overflows that, and each
    // connection dropped waits a second or more for its handshake to be
    // sent again. So the listening socket is noted when it is made, and its
    // queue widened when the server starts, before it accepts anything.
    auto listening = std::make_shared<socket_t>(INVALID_SOCKET);
    server.set_socket_options([listening](socket_t sock) {
        httplib::default_socket_options(sock);
        *listening = sock;
    });
    server.new_task_queue = [threads, listening] {
        if (*listening != INVALID_SOCKET) ::listen(*listening, SOMAXCONN);
        return new httplib::ThreadPool(threads);
    };
    server.set_payload_max_length(max_event_body);
    server.set_keep_alive_max_count(1000);
    // Headers and body go out in two writes: without this, a delayed ACK of
    // the first holds the second back for tens of milliseconds.
    server.set_tcp_nodelay(true);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
}

struct receiver::impl {
    impl(event_store& store, receiver_options o) : options(std::move(o)), writer(store) {
        options.prefix = normalise_prefix(options.prefix);
    }

    receiver_options options;
    batch_writer writer;
    httplib::Server server;
    std::atomic<std::uint64_t> stored{0}, not_json{0}, wrong_shape{0}, too_large{0}, not_found{0}, unavailable{0};
    // Every other 4xx answer, ours (a refused document) or the library's (a
    // request it could not read).
    std::atomic<std::uint64_t> client_errors{0}, server_errors{0};

    static std::int64_t now_ms() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    void receive(const httplib::Request& request, httplib::Response& response) {
        parse_result parsed = parse_event(request.body);
        if (parsed.refused != refusal::none) {
            ++(parsed.refused == refusal::not_json ? not_json : wrong_shape);
            response.status = 400;
            response.set_content(parsed.reason + "\n", "text/plain");
            return;
        }
        event_record& r = parsed.record;
        r.received_ms = now_ms();
        apply(options.privacy, r);
        switch (writer.submit(std::move(r), options.store_wait)) {
            case batch_writer::outcome::stored:
                ++stored;
                response.status = 200;
                return;
            case batch_writer::outcome::unavailable:
            case batch_writer::outcome::timed_out:
                ++unavailable;
                response.status = 503;
                response.set_header("Retry-After", "60");
                response.set_content("the event store is unavailable\n", "text/plain");
                return;
        }
    }

    // Every answer, also those the server library gives without a handler
    // of ours.
    void count_answer(const httplib::Response& response) {
        if (response.status == 413)
            ++too_large;
        else if (response.status == 404 || response.status == 405)
            ++not_found;
        else if (response.status >= 400 && response.status < 500)
            ++client_errors;
        else if (response.status >= 500 && response.status != 503)
            ++server_errors;
    }

    receiver_counts counts() const {
        receiver_counts c;
        c.stored = stored;
        c.not_json = not_json;
        c.wrong_shape = wrong_shape;
        c.too_large = too_large;
        c.not_found = not_found;
        c.unavailable = unavailable;
        const std::uint64_t ours = c.not_json + c.wrong_shape;
        const std::uint64_t all = client_errors;
        c.malformed = all > ours ? all - ours : 0;
        c.failed = server_errors;
        return c;
    }
};

receiver::receiver(event_store& store, receiver_options options)
    : impl_(std::make_unique<impl>(store, std::move(options))) {
    impl& self = *impl_;
    httplib::Server& s = self.server;
    configure_server(s, self.options.threads);
    // A POST with neither a length nor chunks has no body by HTTP's rules,
    // but the server library would read one up to the peer's close (and
    // store it): it is refused before that.
    s.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "POST" || request.has_header("Content-Length") ||
            strcasecmp(request.get_header_value("Transfer-Encoding").c_str(), "chunked") == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        response.status = 411;
        return httplib::Server::HandlerResponse::Handled;
    });
    s.Post(self.options.prefix + event_path,
           [&self](const httplib::Request& request, httplib::Response& response) { self.receive(request, response); });
    s.Get(self.options.prefix + "/stats", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(counts_json(), "application/json");
    });
    s.set_logger([&self](const httplib::Request&, const httplib::Response& response) { self.count_answer(response); });
}

receiver::~receiver() = default;

int receiver::bind() {
    impl& self = *impl_;
    if (self.options.port == 0) {
        const int port = self.server.bind_to_any_port(self.options.host.c_str());
        if (port < 0) throw std::runtime_error("cannot listen on " + self.options.host);
        return port;
    }
    if (!self.server.bind_to_port(self.options.host.c_str(), self.options.port))
        throw std::runtime_error("cannot listen on " + self.options.host + ":" + std::to_string(self.options.port));
    return self.options.port;
}

void receiver::run() { impl_->server.listen_after_bind(); }

void receiver::stop() { impl_->server.stop(); }

receiver_counts receiver::counts() const { return impl_->counts(); }

std::string receiver::counts_json() const {
    const receiver_counts c = counts();
    return "{\"stored\":" + std::to_string(c.stored) + ",\"refused\":" + std::to_string(c.refused()) +
           ",\"not_json\":" + std::to_string(c.not_json) + ",\"wrong_shape\":" + std::to_string(c.wrong_shape) +
           ",\"too_large\":" + std::to_string(c.too_large) + ",\"not_found\":" + std::to_string(c.not_found) +
           ",\"malformed\":" + std::to_string(c.malformed) + ",\"unavailable\":" + std::to_string(c.unavailable) +
           ",\"failed\":" + std::to_string(c.failed) + "}\n";
}

}  // namespace qzr::collect
