// Collects the messages the process logger receives while it lives.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "log/logger.hpp"

namespace qzr::test {

class log_capture {
public:
    log_capture() : sink_(std::make_shared<sink>()) { log::logger()->add_sink(sink_); }
    ~log_capture() { log::logger()->remove_sinks(); }

    const std::vector<std::string>& messages() const { return sink_->messages; }
    bool has(const std::string& message) const {
        return std::find(sink_->messages.begin(), sink_->messages.end(), message) != sink_->messages.end();
    }
    bool has_containing(const std::string& part) const {
        return std::any_of(sink_->messages.begin(), sink_->messages.end(),
                           [&](const std::string& m) { return m.find(part) != std::string::npos; });
    }

private:
    struct sink : log::ISink {
        std::vector<std::string> messages;
        unsigned min_level() const noexcept override { return 0; }
        void write(const log::event& ev, bool) override { messages.push_back(ev.message); }
    };
    std::shared_ptr<sink> sink_;
};

}  // namespace qzr::test
