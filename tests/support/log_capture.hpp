// Collects the lines the process logger receives while it lives, each with
// its level, so tests can tell an error from a warning with the same text.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    // The same, for a line logged at exactly this level (log::level_error...).
    // A failure names the levels the text was seen at instead.
    ::testing::AssertionResult has(unsigned level, const std::string& message) const {
        return find(level, message, [&](const std::string& m) { return m == message; });
    }
    ::testing::AssertionResult has_containing(unsigned level, const std::string& part) const {
        return find(level, part, [&](const std::string& m) { return m.find(part) != std::string::npos; });
    }

    struct line {
        unsigned level;
        std::string message;
    };
    const std::vector<line>& lines() const { return sink_->lines; }

private:
    template <class Match>
    ::testing::AssertionResult find(unsigned level, const std::string& text, Match match) const {
        std::string seen;
        for (const auto& l : sink_->lines) {
            if (!match(l.message)) continue;
            if (l.level == level)
                return ::testing::AssertionSuccess() << "'" << text << "' logged at " << log::level_name(level);
            seen += seen.empty() ? " but at " : ", ";
            seen += log::level_name(l.level);
        }
        return ::testing::AssertionFailure() << "'" << text << "' not logged at " << log::level_name(level)
                                             << (seen.empty() ? std::string(" nor at any level") : seen);
    }

    struct sink : log::ISink {
        std::vector<std::string> messages;
        std::vector<line> lines;
        unsigned min_level() const noexcept override { return 0; }
        void write(const log::event& ev, bool) override {
            messages.push_back(ev.message);
            lines.push_back({ev.level, ev.message});
        }
    };
    std::shared_ptr<sink> sink_;
};

}  // namespace qzr::test
