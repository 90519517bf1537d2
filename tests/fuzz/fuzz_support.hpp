// What several fuzz drivers share: every log line formatted (the readers put
// outside data into their messages), an output that refuses to grow past a
// bound, the input cut into fields, and a machine for conditions to ask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "framework/errors.hpp"
#include "framework/stream_writer.hpp"
#include "log/logger.hpp"
#include "repository/conditions/host_facts.hpp"

namespace qzr::fuzz {

// Formats every line down to debug and drops it. Call once per input; only
// the first call installs the sink.
inline void log_everything() {
    struct discard final : log::ISink {
        unsigned min_level() const noexcept override { return log::level_debug; }
        void write(const log::event&, bool) override {}
    };
    static const bool installed = [] {
        log::logger()->add_sink(std::make_shared<discard>());
        return true;
    }();
    (void)installed;
}

// The LZMA decoder allocates the dictionary its header names before it reads
// any data: a header alone can ask for 4 GiB, beyond the fuzzer's memory
// limit, and even 64 MiB costs 7 ms per input here. Drivers skip streams
// that claim more than this; the decoding logic is the same for every
// dictionary size.
inline constexpr std::uint32_t dictionary_bound = 1u << 20;

// Raised by bounded_writer; never by product code.
struct output_limit {};

// Counts what was written and raises output_limit beyond limit bytes. Sizes
// set are ignored: a header may announce any size.
class bounded_writer final : public packers::stream_writter_intf {
public:
    explicit bounded_writer(std::uint64_t limit) : limit_(limit) {}
    void write(const std::uint8_t*, std::size_t size) override {
        written_ += size;
        if (written_ > limit_) throw output_limit{};
    }
    void set_size(std::uint64_t) override {}
    std::uint64_t written() const noexcept { return written_; }

private:
    std::uint64_t limit_;
    std::uint64_t written_ = 0;
};

// The input cut at a separator byte: the next field, or what is left when
// there is no further separator.
class fields {
public:
    fields(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
    explicit fields(std::string_view text) : rest_(text) {}
    bool empty() const noexcept { return rest_.empty(); }
    std::string_view next(char separator = '\n') {
        const auto at = rest_.find(separator);
        const std::string_view field = rest_.substr(0, at);
        rest_ = at == std::string_view::npos ? std::string_view() : rest_.substr(at + 1);
        return field;
    }
    std::string_view rest() const noexcept { return rest_; }

private:
    std::string_view rest_;
};

// Windows 10 x64, a branded stub, and a file system whose answers depend on
// the length of the path only, so that the fuzzer reaches every answer
// (including the errors the interface documents) by changing a path.
struct fixed_host final : repository::conditions::host_facts_intf {
    environment::os_record record;
    fixed_host() {
        record.major = 10;
        record.build = 19045;
        record.product_type = environment::workstation;
        record.native_platform = environment::platform::x64;
    }
    const environment::os_record& os() const override { return record; }
    std::optional<repository::conditions::brand> stub_brand() const override {
        return repository::conditions::brand::kavro;
    }
    std::optional<std::uint32_t> file_attributes(const std::wstring& path) const override {
        if (path.size() % 3 == 0) return std::nullopt;
        return path.size() % 3 == 1 ? 0x20u : 0x10u;  // a file, a folder
    }
    bool device_exists(const std::wstring& path) const override {
        if (path.size() % 4 == 0) throw exceptions::error(5, L"Unable to query file object '%ls'!", path);
        return path.size() % 2 != 0;
    }
    std::uint64_t file_size(const std::wstring& path) const override {
        if (path.size() % 5 == 0) throw exceptions::error(2, "Unable to get file size!");
        return path.size() % 2;
    }
};

}  // namespace qzr::fuzz
