// Walking the payload appended to a self-extractor: entry headers are read
// through a byte source (a bounded window over the file, or a view of bytes
// in memory); file data is never read here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "framework/byte_source.hpp"
#include "framework/mapped_file.hpp"

namespace qzr::sfx {

// The description of one payload entry.
struct file_info {
    std::uint32_t flags = 0;      // reader kind: 0 stored, 1 LZMA-alone
    std::uint32_t size = 0;       // stored (compressed) size
    std::uint64_t timestamp = 0;  // Unix seconds
    std::uint32_t offset = 0;     // absolute file offset of the data
    std::wstring sha;             // 64 lowercase hex digits of the unpacked content
    std::wstring alias;           // the name, from UTF-8
    std::uint32_t type = 0;
};

namespace payload_format {
inline constexpr std::size_t header_size = 58;
inline constexpr std::uint8_t version_1 = 1;
inline constexpr char magic[] = "APE";
inline constexpr std::uint32_t type_file = 0x46;
inline constexpr std::uint32_t type_end = 0x3A;
inline constexpr std::uint32_t end_flag = 0x10;
inline constexpr std::uint32_t reader_stored = 0;
inline constexpr std::uint32_t reader_lzma = 1;
inline constexpr std::uint16_t pe32_magic = 0x10B;
inline constexpr std::uint16_t pe32plus_magic = 0x20B;
// The image format of the build that reads its own payload: the shipped stub
// is PE32; the 64-bit test build reads PE32+ images of itself.
inline constexpr std::uint16_t own_image_magic = sizeof(void*) == 4 ? pe32_magic : pe32plus_magic;
}  // namespace payload_format

class payload_enumerator_intf {
public:
    virtual bool first() = 0;
    virtual bool next() = 0;
    virtual const file_info* current() const = 0;
    virtual ~payload_enumerator_intf() = default;
};

class payload_enumerator final : public payload_enumerator_intf {
public:
    // The source is the whole file. Runs initialize, so an enumerator that
    // exists knows its payload start.
    explicit payload_enumerator(std::shared_ptr<byte_source> image,
                                std::uint16_t image_magic = payload_format::own_image_magic);
    // The mapping's view must cover the whole file.
    explicit payload_enumerator(std::shared_ptr<const files::mapped_file_intf> mapping,
                                std::uint16_t image_magic = payload_format::own_image_magic);

    bool first() override;
    bool next() override;
    const file_info* current() const override { return current_ ? &*current_ : nullptr; }

    std::uint64_t payload_start() const noexcept { return payload_start_; }

private:
    void initialize(std::uint16_t image_magic);
    bool load_entry(std::uint64_t offset);

    std::shared_ptr<byte_source> image_;
    std::uint64_t payload_start_ = 0;
    std::uint64_t current_end_ = 0;
    std::optional<file_info> current_;
};

// Where the payload of a PE image begins: the end of the section whose raw
// data ends last. Raises the enumerator's errors for a malformed image.
std::uint64_t find_payload_start(byte_source& image, std::uint16_t image_magic);
std::uint64_t find_payload_start(byte_view image, std::uint16_t image_magic);

// A mapping's view as a byte source that keeps the mapping alive; a null
// mapping gives a null source.
std::shared_ptr<byte_source> source_of(std::shared_ptr<const files::mapped_file_intf> mapping);

}  // namespace qzr::sfx
