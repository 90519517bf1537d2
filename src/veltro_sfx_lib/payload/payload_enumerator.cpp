#include "veltro_sfx_lib/payload/payload_enumerator.hpp"

#include <limits>

#include "framework/hex.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

namespace qzr::sfx {

namespace {

constexpr std::uint64_t nt_headers_minimum = 248;  // signature, file header, PE32 optional header
constexpr std::uint64_t section_header_size = 40;

[[noreturn]] void outside_view() {
    throw qzr::exceptions::error(qzr::exceptions::access_denied_code, "Unable to read outside of the mapped view!");
}

}  // namespace

std::shared_ptr<byte_source> source_of(std::shared_ptr<const files::mapped_file_intf> mapping) {
    struct mapped_source final : byte_source {
        std::shared_ptr<const files::mapped_file_intf> mapping;
        view_source view;
        explicit mapped_source(std::shared_ptr<const files::mapped_file_intf> m)
            : mapping(std::move(m)), view(mapping->view()) {}
        std::uint64_t size() const override { return view.size(); }
        byte_view window(std::uint64_t offset, std::size_t want) override { return view.window(offset, want); }
    };
    if (!mapping) return nullptr;
    return std::make_shared<mapped_source>(std::move(mapping));
}

std::uint64_t find_payload_start(byte_view image, std::uint16_t image_magic) {
    view_source source(image);
    return find_payload_start(source, image_magic);
}

std::uint64_t find_payload_start(byte_source& image, std::uint16_t image_magic) {
    if (image.size() < 64) outside_view();
    if (!image.equals(0, "MZ")) {
        QZR_LOG_ERROR(L"File is not PE.");
        throw exceptions::unsupported_file_format(L"Missing DOS signature.");
    }
    const std::uint64_t nt = image.u32(0x3C);
    if (nt > image.size() || image.size() - nt < nt_headers_minimum) outside_view();
    if (!image.equals(nt, std::string_view("PE\0\0", 4))) {
        QZR_LOG_ERROR(L"File is missing NT signature");
        throw exceptions::unsupported_file_format(L"Missing NT signature.");
    }
    if (image.u16(nt + 24) != image_magic) {
        QZR_LOG_ERROR(L"File is not 32-bit executable.");
        throw exceptions::unsupported_file_format(L"Exe file is not 32-bit.");
    }
    const std::uint32_t sections = image.u16(nt + 6);
    const std::uint64_t table = nt + 24 + image.u16(nt + 20);
    std::uint64_t start = 0;
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::uint64_t header = table + i * section_header_size;
        const std::uint64_t raw_size = image.u32(header + 16);
        const std::uint64_t raw_pointer = image.u32(header + 20);
        start = std::max(start, raw_pointer + raw_size);
    }
    return start;
}

payload_enumerator::payload_enumerator(std::shared_ptr<byte_source> image, std::uint16_t image_magic)
    : image_(std::move(image)) {
    initialize(image_magic);
}

payload_enumerator::payload_enumerator(std::shared_ptr<const files::mapped_file_intf> mapping,
                                       std::uint16_t image_magic)
    : payload_enumerator(source_of(std::move(mapping)), image_magic) {}

void payload_enumerator::initialize(std::uint16_t image_magic) {
    if (!image_) {
        QZR_LOG_ERROR(L"payload_enumerator: input handle is nullptr");
        throw qzr::exceptions::error(qzr::exceptions::invalid_parameter_code, "file handle is null");
    }
    payload_start_ = find_payload_start(*image_, image_magic);
    if (image_->size() < payload_start_) {
        QZR_LOG_ERROR(L"Payload starts behind file end. File is invalid.");
        throw exceptions::unsupported_file_format(L"Payload starts behind file end.");
    }
}

bool payload_enumerator::first() {
    if (payload_start_ < image_->size()) return load_entry(payload_start_);
    QZR_LOG_INFO(L"No payload present in file.");
    return false;
}

bool payload_enumerator::next() {
    if (!current_) return false;
    return load_entry(current_end_);
}

bool payload_enumerator::load_entry(std::uint64_t x) {
    byte_source& image = *image_;
    const std::uint8_t version = image.u8(x);
    if (version != payload_format::version_1) {
        QZR_LOG_ERROR(L"Version %u is not supported!", version);
        throw exceptions::invalid_payload(L"Header version is not supported");
    }

    int step = 0;
    file_info info;
    std::uint64_t end = 0;
    try {
        if (!image.equals(x + 1, "APE")) {
            const auto found = image.bytes(x + 1, 3).span(0, 3);
            QZR_LOG_ERROR("Invalid payload, '%s' expected, '%s' got.", "APE",
                          std::string(found.begin(), found.end()));
            throw qzr::exceptions::error(qzr::exceptions::invalid_data_code, "bad magic");
        }
        step = 1;
        info.type = image.u32(x + 4);
        step = 2;
        info.flags = image.u32(x + 8);
        if (info.flags & payload_format::end_flag) {
            current_.reset();
            return false;
        }
        step = 3;
        info.timestamp = image.u64(x + 12);
        step = 4;
        info.size = image.u32(x + 20);
        step = 5;
        info.sha = hex::wencode(image.bytes(x + 24, 32).span(0, 32));
        step = 6;
        const std::uint64_t name_length = image.u16(x + 56);
        step = 7;
        // Up to 64 KiB, which may take more than one window.
        std::string name;
        const std::uint64_t name_at = x + payload_format::header_size;
        if (!image.contains(name_at, name_length)) outside_view();
        while (name.size() < name_length) {
            const byte_view part = image.window(name_at + name.size(), name_length - name.size());
            if (part.size() == 0) outside_view();
            name.append(reinterpret_cast<const char*>(part.data()), part.size());
        }
        info.alias = utf::from_utf8(name);
        const std::uint64_t data = x + payload_format::header_size + name_length;
        // Offsets are 32-bit where they are handed on: an entry beyond 4 GiB
        // is refused rather than placed somewhere else.
        step = 8;
        if (data > std::numeric_limits<std::uint32_t>::max()) outside_view();
        info.offset = static_cast<std::uint32_t>(data);
        end = data + info.size;  // 64-bit: a huge size points past the view, never back into it
    } catch (const std::exception&) {
        QZR_LOG_ERROR(L"Fail on read value %d.", step);
        throw exceptions::invalid_payload(L"Fail on read payload");
    }
    QZR_LOG_DEBUG(L"Data file sha='%s', alias='%s', found in payload.", info.sha, info.alias);
    current_ = std::move(info);
    current_end_ = end;
    return true;
}

}  // namespace qzr::sfx
