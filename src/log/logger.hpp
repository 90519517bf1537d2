// The process-wide logger. Components log through the QZR_LOG family of
// macros, which test the level before anything is formatted; sinks decide
// where lines go. Logging never throws to its caller.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/text_format.hpp"
#include "log/log_line.hpp"

namespace qzr::log {

class ISink {
public:
    virtual ~ISink() = default;
    virtual unsigned min_level() const noexcept = 0;
    // flush: the event is at or above the logger's flush level.
    virtual void write(const event& ev, bool flush) = 0;
};

class ILogger {
public:
    virtual ~ILogger() = default;

    // message is UTF-8 and already formatted.
    virtual void log(unsigned level, const log_source& source, std::string_view message) noexcept = 0;
    virtual bool is_enabled(unsigned level) const noexcept = 0;
    virtual void add_sink(std::shared_ptr<ISink> sink) = 0;
    virtual void remove_sinks() noexcept = 0;
    // 0..9; anything larger raises qzr::exceptions::error(87).
    virtual void set_flush_level(unsigned level) = 0;
    virtual unsigned flush_level() const noexcept = 0;
    virtual std::string describe_exception(const std::exception& e) const = 0;

    template <class... A>
    void logf(unsigned level, const log_source& source, const char* fmt, const A&... args) noexcept {
        try {
            log(level, source, text::format(fmt, args...));
        } catch (...) {
        }
    }
    template <class... A>
    void logf(unsigned level, const log_source& source, const wchar_t* fmt, const A&... args) noexcept {
        try {
            log(level, source, text::format_utf8(fmt, args...));
        } catch (...) {
        }
    }
};

class Logger final : public ILogger {
public:
    void log(unsigned level, const log_source& source, std::string_view message) noexcept override;
    bool is_enabled(unsigned level) const noexcept override;
    void add_sink(std::shared_ptr<ISink> sink) override;
    void remove_sinks() noexcept override;
    void set_flush_level(unsigned level) override;
    unsigned flush_level() const noexcept override;
    std::string describe_exception(const std::exception& e) const override;

private:
    mutable std::mutex lock_;
    // Sinks are called one event at a time, whichever thread logs: a sink
    // need not be safe for concurrent writes, and lines keep one order in
    // every sink. Recursive, so a sink that logs cannot deadlock its thread.
    std::recursive_mutex write_lock_;
    std::shared_ptr<const std::vector<std::shared_ptr<ISink>>> sinks_ =
        std::make_shared<std::vector<std::shared_ptr<ISink>>>();
    std::atomic<unsigned> min_level_{level_none};
    std::atomic<unsigned> flush_level_{level_none};
};

// Text of an exception for logs: "Exception: <text>", the code of the
// system's errors, and nested causes on following lines.
std::string describe_exception(const std::exception& e);

namespace detail {

// Owns the process-wide logger; its destruction at exit writes the closing
// lines of the run.
class LogModule {
public:
    LogModule();
    ~LogModule();
    ILogger& logger() noexcept { return logger_; }
    static LogModule* instance() noexcept;

private:
    Logger logger_;
};

}  // namespace detail

// The process-wide logger, or null once it is gone.
ILogger* logger() noexcept;

namespace detail {

// What a log call compiles to: a test of the level, the arguments listed,
// one call. Formatting, the source file's identifier and the failures of
// either stay in here and never reach the caller.
bool enabled(unsigned level) noexcept;
void write(unsigned level, const char* tag, const char* file, int line, const char* fmt,
           std::span<const text::format_arg> args) noexcept;
void write(unsigned level, const char* tag, const char* file, int line, const wchar_t* fmt,
           std::span<const text::format_arg> args) noexcept;
void write_exception(const char* tag, const char* file, int line, const std::exception& e) noexcept;

template <class C, class... A>
void write_f(unsigned level, const char* tag, const char* file, int line, const C* fmt, const A&... args) noexcept {
    const text::format_arg list[] = {text::format_arg(args)..., text::format_arg(0)};
    write(level, tag, file, line, fmt, std::span<const text::format_arg>(list, sizeof...(A)));
}

}  // namespace detail

// A context kept per thread and put in front of every message of that thread.
class scoped_context {
public:
    explicit scoped_context(std::string context);
    ~scoped_context();
    scoped_context(const scoped_context&) = delete;
    scoped_context& operator=(const scoped_context&) = delete;

private:
    std::string previous_;
};
const std::string& current_context() noexcept;

// Time and identity of the calling thread for new events.
filetime now() noexcept;
std::uint32_t current_process_id() noexcept;
std::uint32_t current_thread_id() noexcept;

}  // namespace qzr::log

#ifndef QZR_LOG_TAG
#define QZR_LOG_TAG "vsfx"
#endif

#define QZR_LOG(lvl, ...)                                                                      \
    do {                                                                                       \
        if (::qzr::log::detail::enabled(lvl))                                                  \
            ::qzr::log::detail::write_f(lvl, QZR_LOG_TAG, __FILE__, __LINE__, __VA_ARGS__);     \
    } while (0)

#define QZR_LOG_DEBUG(...) QZR_LOG(::qzr::log::level_debug, __VA_ARGS__)
#define QZR_LOG_INFO(...) QZR_LOG(::qzr::log::level_info, __VA_ARGS__)
#define QZR_LOG_NOTICE(...) QZR_LOG(::qzr::log::level_notice, __VA_ARGS__)
#define QZR_LOG_WARNING(...) QZR_LOG(::qzr::log::level_warning, __VA_ARGS__)
#define QZR_LOG_ERROR(...) QZR_LOG(::qzr::log::level_error, __VA_ARGS__)
#define QZR_LOG_FATAL(...) QZR_LOG(::qzr::log::level_fatal, __VA_ARGS__)

// Logs an exception at error level, described as describe_exception does.
#define QZR_LOG_EXCEPTION(e) ::qzr::log::detail::write_exception(QZR_LOG_TAG, __FILE__, __LINE__, e)
