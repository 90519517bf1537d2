// The HTTP side of veltro-collect: accepts the stub's POSTs, checks each
// document, stores it through the batch writer, and counts every answer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "event_store.hpp"
#include "privacy.hpp"

namespace httplib {
class Server;
}

namespace qzr::collect {

struct receiver_options {
    std::string host = "127.0.0.1";
    int port = 0;             // 0: any free port
    std::string prefix;       // put before /v4/receive/json/25, e.g. "/collect"
    std::size_t threads = 64; // connections served at once
    collect::privacy privacy;
    std::chrono::milliseconds store_wait{30000};
};

// The path the stub posts to, after the prefix.
inline constexpr const char* event_path = "/v4/receive/json/25";

struct receiver_counts {
    std::uint64_t stored = 0;
    std::uint64_t not_json = 0;
    std::uint64_t wrong_shape = 0;
    std::uint64_t too_large = 0;
    std::uint64_t not_found = 0;    // another path or method
    std::uint64_t malformed = 0;    // a request the server library could not read (400 and other 4xx)
    std::uint64_t unavailable = 0;  // 503: the store could not take the event
    std::uint64_t failed = 0;       // any other 5xx
    std::uint64_t refused() const {
        return not_json + wrong_shape + too_large + not_found + malformed + unavailable + failed;
    }
};

// "/collect/" and "collect" both give "/collect"; "" and "/" give "".
// Refuses characters that have no place in a path prefix.
std::string normalise_prefix(const std::string& prefix);

// The server settings of the receiver: its thread pool, keep-alive, time-outs
// and body limit (the load benchmark's baseline takes the same).
void configure_server(httplib::Server& server, std::size_t threads);

class receiver {
public:
    receiver(event_store& store, receiver_options options);
    ~receiver();

    // Binds the address; gives the port (the one chosen, for port 0).
    int bind();
    // Serves until stop(); every event acknowledged has been committed.
    void run();
    void stop();

    receiver_counts counts() const;
    // The counts as a JSON object, the body of GET <prefix>/stats.
    std::string counts_json() const;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace qzr::collect
