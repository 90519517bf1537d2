// The lookup tables of a payload (named entries by alias, unnamed ones by
// digest text), the file list for the setup master, and the extraction of an
// entry's bytes with its digest checked.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <pugixml.hpp>

#include "framework/stream_writer.hpp"
#include "veltro_sfx_lib/payload/payload_enumerator.hpp"

namespace qzr::sfx {

class payload_index {
public:
    // Walks the whole payload; appends one "file" element per entry (in
    // payload order, duplicates included) to file_list.
    payload_index(std::shared_ptr<byte_source> image, pugi::xml_node file_list,
                  std::uint16_t image_magic = payload_format::own_image_magic);
    payload_index(const std::shared_ptr<const files::mapped_file_intf>& mapping, pugi::xml_node file_list,
                  std::uint16_t image_magic = payload_format::own_image_magic);

    const file_info* find_by_sha(const std::wstring& sha) const;
    const file_info* find_by_alias(const std::wstring& alias) const;
    std::vector<std::wstring> aliases() const;

private:
    std::unordered_map<std::wstring, file_info> by_sha_;
    std::unordered_map<std::wstring, file_info> by_alias_;
};

// The entry's content (stored bytes copied, LZMA decoded), digest checked.
// Errors: 5 outside the view, 13 "Unsupported data reader (%d)", 13 "Fail
// unpack data, wrong checksum (alias:%s, hash:%s)!", and the LZMA errors.
std::vector<std::uint8_t> unpack_entry(byte_source& image, const file_info& entry);
std::vector<std::uint8_t> unpack_entry(byte_view image, const file_info& entry);

// Writes the entry's content to out a window at a time (stored data) or
// chunk by chunk (LZMA data). The caller checks the digest of what was written.
void write_entry(byte_source& image, const file_info& entry, packers::stream_writter_intf& out);
void write_entry(byte_view image, const file_info& entry, packers::stream_writter_intf& out);

// Raises the checksum error unless actual matches the entry's digest text
// (an entry without digest text is not checked).
void check_entry_digest(const file_info& entry, const std::vector<std::uint8_t>& actual_digest);

}  // namespace qzr::sfx
