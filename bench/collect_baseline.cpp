// The limit the receiver is measured against: the same HTTP server library
// with the receiver's own settings, answering every POST to the event path
// with 200 without reading the document or storing anything.
//   collect_baseline [THREADS]    (default: the receiver's, 64)
// Prints "listening on http://127.0.0.1:PORT/v4/receive/json/25", serves
// until SIGTERM or SIGINT.
#include <httplib.h>
#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "receiver.hpp"

int main(int argc, char** argv) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    httplib::Server server;
    const std::size_t threads =
        argc > 1 ? std::strtoul(argv[1], nullptr, 10) : qzr::collect::receiver_options{}.threads;
    qzr::collect::configure_server(server, threads);
    server.Post(qzr::collect::event_path,
                [](const httplib::Request&, httplib::Response& response) { response.status = 200; });
    // The load script ends each connection with GETs of /stats, as it does
    // against the receiver.
    server.Get("/stats", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{}", "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port < 0) return 1;
    std::cout << "listening on http://127.0.0.1:" << port << qzr::collect::event_path << std::endl;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stop, &signal);
        server.stop();
    });
    server.listen_after_bind();
    stopper.join();
    return 0;
}
