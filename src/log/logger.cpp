#include "log/logger.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "framework/errors.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qzr::log {

namespace {

thread_local std::string t_context;

std::atomic<detail::LogModule*> g_module{nullptr};

}  // namespace

void Logger::log(unsigned level, const log_source& source, std::string_view message) noexcept {
    try {
        std::shared_ptr<const std::vector<std::shared_ptr<ISink>>> sinks;
        {
            std::lock_guard<std::mutex> guard(lock_);
            sinks = sinks_;
        }
        if (sinks->empty()) return;
        event ev{level, source, {}, now(), current_process_id(), current_thread_id()};
        const std::string_view tag(source.tag, strnlen(source.tag, sizeof source.tag));
        ev.message = compose_message(message, t_context, tag);
        const bool flush = level >= flush_level_.load(std::memory_order_relaxed);
        std::lock_guard<std::recursive_mutex> serialised(write_lock_);
        for (const auto& sink : *sinks) {
            if (level < sink->min_level()) continue;
            try {
                sink->write(ev, flush);
            } catch (...) {
                // A failing sink must not take the caller down with it.
            }
        }
    } catch (...) {
    }
}

bool Logger::is_enabled(unsigned level) const noexcept {
    return level >= min_level_.load(std::memory_order_relaxed);
}

void Logger::add_sink(std::shared_ptr<ISink> sink) {
    if (!sink) return;
    std::lock_guard<std::mutex> guard(lock_);
    auto next = std::make_shared<std::vector<std::shared_ptr<ISink>>>(*sinks_);
    next->push_back(sink);
    unsigned min = level_none;
    for (const auto& s : *next) min = std::min(min, s->min_level());
    sinks_ = std::move(next);
    min_level_.store(min, std::memory_order_relaxed);
}

void Logger::remove_sinks() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    sinks_ = std::make_shared<std::vector<std::shared_ptr<ISink>>>();
    min_level_.store(level_none, std::memory_order_relaxed);
}

void Logger::set_flush_level(unsigned level) {
    if (level > level_none) throw exceptions::error(exceptions::invalid_parameter_code, "Invalid flush level");
    flush_level_.store(level, std::memory_order_relaxed);
}

unsigned Logger::flush_level() const noexcept { return flush_level_.load(std::memory_order_relaxed); }

std::string Logger::describe_exception(const std::exception& e) const { return log::describe_exception(e); }

std::string describe_exception(const std::exception& e) {
    std::string out;
    const auto* qe = dynamic_cast<const exceptions::detail::base*>(&e);
    const bool has_text = qe ? qe->has_message() : (e.what() && *e.what());
    if (has_text) {
        out += "Exception: ";
        out += e.what();
    }
    if (const auto* err = dynamic_cast<const exceptions::error*>(&e); err && err->code() != -1) {
        if (!out.empty()) out += '\n';
        out += "Code: ";
        out += text::format("0x%08x (%d)", err->code(), err->code());
    }
    try {
        std::rethrow_if_nested(e);
    } catch (const std::exception& nested) {
        out += '\n';
        out += describe_exception(nested);
    } catch (...) {
    }
    return out;
}

namespace detail {

LogModule::LogModule() { g_module.store(this); }

LogModule::~LogModule() {
    static const file_id fid = file_id_of_source(__FILE__);
    const auto src = make_source("log_module", fid, __LINE__);
    logger_.log(level_info, src, "LogModule is going to be destroyed.");
    logger_.log(level_info, src, std::string(117, '='));
    g_module.store(nullptr);
    logger_.remove_sinks();
}

LogModule* LogModule::instance() noexcept {
    static LogModule module;
    return g_module.load();
}

}  // namespace detail

ILogger* logger() noexcept {
    auto* m = detail::LogModule::instance();
    return m ? &m->logger() : nullptr;
}

namespace detail {

bool enabled(unsigned level) noexcept {
    ILogger* lg = logger();
    return lg && lg->is_enabled(level);
}

namespace {

template <class C>
void write_any(unsigned level, const char* tag, const char* file, int line, const C* fmt,
               std::span<const text::format_arg> args) noexcept {
    ILogger* lg = logger();
    if (!lg) return;
    try {
        const C empty[1] = {};
        std::string message;
        if constexpr (sizeof(C) == 1) message = text::vformat(std::string_view(fmt ? fmt : empty), args);
        else message = text::format_utf8_v(std::wstring_view(fmt ? fmt : empty), args);
        lg->log(level, make_source(tag, file_id_of_source(file), line), message);
    } catch (...) {
    }
}

}  // namespace

void write(unsigned level, const char* tag, const char* file, int line, const char* fmt,
           std::span<const text::format_arg> args) noexcept {
    write_any(level, tag, file, line, fmt, args);
}

void write(unsigned level, const char* tag, const char* file, int line, const wchar_t* fmt,
           std::span<const text::format_arg> args) noexcept {
    write_any(level, tag, file, line, fmt, args);
}

void write_exception(const char* tag, const char* file, int line, const std::exception& e) noexcept {
    if (!enabled(level_error)) return;
    try {
        const std::string text = logger()->describe_exception(e);
        const text::format_arg arg(text);
        write(level_error, tag, file, line, "%s", std::span<const text::format_arg>(&arg, 1));
    } catch (...) {
    }
}

}  // namespace detail

scoped_context::scoped_context(std::string context) : previous_(std::move(t_context)) { t_context = std::move(context); }
scoped_context::~scoped_context() { t_context = std::move(previous_); }
const std::string& current_context() noexcept { return t_context; }

#ifdef _WIN32
filetime now() noexcept {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (filetime{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}
std::uint32_t current_process_id() noexcept { return GetCurrentProcessId(); }
std::uint32_t current_thread_id() noexcept { return GetCurrentThreadId(); }
#else
filetime now() noexcept {
    using namespace std::chrono;
    const auto since_epoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<filetime>(since_epoch / 100) + 116444736000000000ULL;
}
std::uint32_t current_process_id() noexcept { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t current_thread_id() noexcept { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
#endif

}  // namespace qzr::log
