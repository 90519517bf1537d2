#include "veltro_sfx_lib/payload/payload_index.hpp"

#include "framework/digest.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/text_format.hpp"
#include "log/logger.hpp"

namespace qzr::sfx {

namespace {

void add_text(pugi::xml_node parent, const wchar_t* name, const std::wstring& text) {
    parent.append_child(name).text().set(text.c_str());
}

[[noreturn]] void unsupported_reader(std::uint32_t flags) {
    throw qzr::exceptions::error(qzr::exceptions::invalid_data_code, L"Unsupported data reader (%d)", flags);
}

}  // namespace

payload_index::payload_index(const std::shared_ptr<const files::mapped_file_intf>& mapping, pugi::xml_node file_list,
                             std::uint16_t image_magic)
    : payload_index(source_of(mapping), file_list, image_magic) {}

payload_index::payload_index(std::shared_ptr<byte_source> image, pugi::xml_node file_list, std::uint16_t image_magic) {
    payload_enumerator entries(std::move(image), image_magic);
    for (bool more = entries.first(); more; more = entries.next()) {
        const file_info& f = *entries.current();
        auto file = file_list.append_child(L"file");
        add_text(file, L"alias", f.alias);
        add_text(file, L"sha-256", f.sha);
        add_text(file, L"offset", text::decimal(f.offset));
        add_text(file, L"size", text::decimal(f.size));
        add_text(file, L"timestamp", text::decimal(f.timestamp));
        add_text(file, L"flags", text::decimal(f.flags));
        if (!f.alias.empty()) {
            if (by_alias_.count(f.alias)) QZR_LOG_INFO(L"file alias = '%s' packed in payload twice, overriding", f.alias);
            by_alias_[f.alias] = f;
        } else {
            if (by_sha_.count(f.sha)) QZR_LOG_INFO(L"file sha-256 = '%s' packed in payload twice, overriding", f.sha);
            by_sha_[f.sha] = f;
        }
    }
}

const file_info* payload_index::find_by_sha(const std::wstring& sha) const {
    auto it = by_sha_.find(sha);
    return it == by_sha_.end() ? nullptr : &it->second;
}

const file_info* payload_index::find_by_alias(const std::wstring& alias) const {
    auto it = by_alias_.find(alias);
    return it == by_alias_.end() ? nullptr : &it->second;
}

std::vector<std::wstring> payload_index::aliases() const {
    std::vector<std::wstring> out;
    out.reserve(by_alias_.size());
    for (const auto& [alias, info] : by_alias_) out.push_back(alias);
    return out;
}

void check_entry_digest(const file_info& entry, const std::vector<std::uint8_t>& actual) {
    if (entry.sha.empty()) return;
    if (root::digest::from_hex(entry.sha) == root::digest(actual)) return;
    QZR_LOG_ERROR(L"Fail unpack data, wrong checksum (alias:%s, hash:%s)!", entry.alias, entry.sha);
    throw qzr::exceptions::error(qzr::exceptions::invalid_data_code,
                                 L"Fail unpack data, wrong checksum (alias:%s, hash:%s)!", entry.alias, entry.sha);
}

std::vector<std::uint8_t> unpack_entry(byte_source& image, const file_info& entry) {
    range_source data(image, entry.offset, entry.size);
    std::vector<std::uint8_t> out;
    switch (entry.flags) {
        case payload_format::reader_stored:
            out.reserve(entry.size);
            for (std::uint64_t at = 0; at < data.size();) {
                const byte_view part = data.next_window(at);
                out.insert(out.end(), part.data(), part.data() + part.size());
                at += part.size();
            }
            break;
        case payload_format::reader_lzma: packers::lzma_decode(data, nullptr, &out); break;
        default: unsupported_reader(entry.flags);
    }
    check_entry_digest(entry, root::hash_buffer(out).bytes());
    return out;
}

std::vector<std::uint8_t> unpack_entry(byte_view image, const file_info& entry) {
    view_source source(image);
    return unpack_entry(source, entry);
}

void write_entry(byte_source& image, const file_info& entry, packers::stream_writter_intf& out) {
    range_source data(image, entry.offset, entry.size);
    switch (entry.flags) {
        case payload_format::reader_stored:
            // A window at a time: an entry of any size costs one window.
            for (std::uint64_t at = 0; at < data.size();) {
                const byte_view part = data.next_window(at);
                out.write(part.data(), part.size());
                at += part.size();
            }
            out.set_size(data.size());
            break;
        case payload_format::reader_lzma: packers::lzma_decode(data, &out, nullptr); break;
        default: unsupported_reader(entry.flags);
    }
}

void write_entry(byte_view image, const file_info& entry, packers::stream_writter_intf& out) {
    view_source source(image);
    write_entry(source, entry, out);
}

}  // namespace qzr::sfx
