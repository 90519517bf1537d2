// veltro-collect: receives the stub's analytics events and reports on them.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <pthread.h>

#include "cli_support.hpp"
#include "receiver.hpp"
#include "report.hpp"
#include "tool_cli.hpp"

namespace {

using namespace qzr;
using pack::usage_error;

const char* const note =
    "serve answers POST <prefix>/v4/receive/json/25 with 200 once the event is committed, 400\n"
    "for a document that is not the stub's event, 413 for a body over 64 KiB and 503 when the\n"
    "store cannot take it; GET <prefix>/stats gives the counts. It stops on SIGINT or SIGTERM\n"
    "after storing what it has acknowledged, and prints the counts.\n"
    "--db is a SQLite file (made when missing) or a PostgreSQL URL (postgresql://...).\n"
    "What is stored, and the report's JSON schema: docs/collect.md.\n";

struct serve_request {
    std::string db = "events.sqlite";
    std::string listen = "127.0.0.1:0";
    collect::receiver_options options;
    std::string hwid_key_file;
};

void add_privacy(CLI::App& c, collect::privacy& p, std::string& key_file) {
    c.add_flag("--drop-cmdline", p.drop_cmdline, "do not store the stub's command line");
    c.add_option("--hwid-key", key_file, "store the hwid only as HMAC-SHA256 under the key in FILE")
        ->type_name("FILE");
}

void read_hwid_key(const std::string& file, collect::privacy& p) {
    if (file.empty()) return;
    const auto key = pack::read_file(file);
    if (key.size() < 16) throw usage_error("--hwid-key: the key file holds fewer than 16 bytes");
    p.hwid_key.assign(key.begin(), key.end());
}

void split_listen(const std::string& text, collect::receiver_options& o) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw usage_error("--listen takes HOST:PORT, not " + text);
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::uint64_t port = pack::parse_number(text.substr(colon + 1), "--listen's port");
    if (port > 65535) throw usage_error("--listen's port is above 65535");
    o.host = host;
    o.port = static_cast<int>(port);
}

int serve_command(serve_request& request) {
    split_listen(request.listen, request.options);
    try {
        request.options.prefix = collect::normalise_prefix(request.options.prefix);
    } catch (const std::invalid_argument& e) {
        throw usage_error(std::string("--prefix: ") + e.what());
    }
    read_hwid_key(request.hwid_key_file, request.options.privacy);
    // Signals are taken by one thread with sigwait, never by a handler
    // interrupting the server's threads, which inherit the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const auto store = collect::open_store(request.db);
    collect::receiver_counts counts;
    {
        collect::receiver receiver(*store, request.options);
        const int port = receiver.bind();
        const std::string host = request.options.host.find(':') != std::string::npos
                                     ? "[" + request.options.host + "]"
                                     : request.options.host;
        std::cout << "listening on http://" << host << ":" << port << request.options.prefix
                  << collect::event_path << std::endl;
        std::thread stopper([&receiver, stop_signals] {
            int signal = 0;
            sigwait(&stop_signals, &signal);
            receiver.stop();
        });
        receiver.run();
        // run() returns only after stop(): the stopper has done its work.
        stopper.join();
        counts = receiver.counts();
    }  // the receiver's writer stores what it was handed before this
    std::cout << "stored " << counts.stored << ", refused " << counts.refused() << " (not JSON " << counts.not_json
              << ", not an event " << counts.wrong_shape << ", too large " << counts.too_large << ", wrong path "
              << counts.not_found << ", unreadable request " << counts.malformed << ", store unavailable "
              << counts.unavailable << ", failed " << counts.failed << ")" << std::endl;
    return pack::exit_success;
}

void add_serve(pack::tool& tool) {
    auto request = std::make_shared<serve_request>();
    auto& c = tool.command("serve", "Receive events and store them", [request] { return serve_command(*request); });
    c.add_option("--db", request->db, "SQLite file or PostgreSQL URL (default events.sqlite)")->type_name("TARGET");
    c.add_option("--listen", request->listen, "address to listen on (default 127.0.0.1:0, any free port)")
        ->type_name("HOST:PORT");
    c.add_option("--prefix", request->options.prefix, "path before /v4/receive/json/25")->type_name("PATH");
    pack::add_number(
        c, "--threads",
        [request](std::uint64_t n) {
            if (n == 0 || n > 4096) throw usage_error("--threads takes 1 to 4096");
            request->options.threads = n;
        },
        "connections served at once (default 64)");
    add_privacy(c, request->options.privacy, request->hwid_key_file);
}

struct report_options {
    std::string db = "events.sqlite";
    std::string since;
    std::string product;
    std::string html, json;
};

int report_command(const report_options& o) {
    if (o.html.empty() && o.json.empty()) throw usage_error("give --html FILE, --json FILE or both");
    if (!collect::parse_day(o.since)) throw usage_error("--since takes a day as YYYY-MM-DD, not " + o.since);
    if (!collect::names_postgres(o.db) && !std::filesystem::exists(o.db))
        throw std::runtime_error("no event database " + o.db);
    const auto store = collect::open_store(o.db);
    collect::report_request request{o.since, std::nullopt, 0};
    if (!o.product.empty()) request.product = o.product;
    using namespace std::chrono;
    request.now_ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const auto report = collect::build_report(*store, request);
    const auto put = [](const std::string& path, const std::string& text) {
        if (path == "-")
            std::cout << text;
        else
            pack::write_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    if (!o.json.empty()) put(o.json, collect::report_json(report));
    if (!o.html.empty()) put(o.html, collect::report_html(report));
    return pack::exit_success;
}

void add_report(pack::tool& tool) {
    auto o = std::make_shared<report_options>();
    auto& c = tool.command("report", "Report on the sessions since a day", [o] { return report_command(*o); });
    c.add_option("--db", o->db, "SQLite file or PostgreSQL URL (default events.sqlite)")->type_name("TARGET");
    c.add_option("--since", o->since, "first day (UTC) of the report")->required()->type_name("YYYY-MM-DD");
    c.add_option("--product", o->product, "only sessions that name this product")->type_name("NAME");
    c.add_option("--html", o->html, "write the page here")->type_name("FILE");
    c.add_option("--json", o->json, "write the JSON form here ('-': standard output)")->type_name("FILE");
}

struct import_options {
    std::string db = "events.sqlite";
    std::string file;
    collect::privacy privacy;
    std::string hwid_key_file;
};

// A line holds a document, or is a line of the stub's sfx.log that shows one.
std::string_view document_of(std::string_view line) {
    static constexpr std::string_view logged = "Sending report data: (";
    if (const auto at = line.find(logged); at != std::string_view::npos) {
        line.remove_prefix(at + logged.size());
        const auto end = line.rfind(')');
        return end == std::string_view::npos ? std::string_view() : line.substr(0, end);
    }
    return line;
}

int import_command(import_options& o) {
    read_hwid_key(o.hwid_key_file, o.privacy);
    std::ifstream in(o.file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + o.file);
    const auto store = collect::open_store(o.db);
    std::vector<collect::event_record> batch;
    std::uint64_t stored = 0, refused = 0, line_number = 0;
    const auto flush = [&] {
        store->insert(batch);
        stored += batch.size();
        batch.clear();
    };
    for (std::string line; std::getline(in, line);) {
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto parsed = collect::parse_event(document_of(line));
        if (parsed.refused != collect::refusal::none) {
            if (++refused <= 10) std::cerr << o.file << ":" << line_number << ": " << parsed.reason << "\n";
            continue;
        }
        // No receiving time is known: the sender's own clock stands in.
        parsed.record.received_ms = parsed.record.event_ms;
        collect::apply(o.privacy, parsed.record);
        batch.push_back(std::move(parsed.record));
        if (batch.size() == 4096) flush();
    }
    flush();
    std::cout << o.file << ": " << stored << " events read, " << refused << " lines refused\n";
    return refused ? pack::exit_check_failed : pack::exit_success;
}

void add_import(pack::tool& tool) {
    auto o = std::make_shared<import_options>();
    auto& c = tool.command("import", "Store documents from a file: one per line, or the lines of sfx.log that show them",
                           [o] { return import_command(*o); });
    c.add_option("--db", o->db, "SQLite file or PostgreSQL URL (default events.sqlite)")->type_name("TARGET");
    c.add_option("file", o->file, "the file to read")->required()->type_name("FILE");
    add_privacy(c, o->privacy, o->hwid_key_file);
}

}  // namespace

int main(int argc, char** argv) {
    pack::tool tool("veltro-collect", "Receives the stub's analytics events and reports on them.", note);
    add_serve(tool);
    add_report(tool);
    add_import(tool);
    return tool.main(argc, argv);
}
