#include "veltro_sfx_lib/payload/payload.hpp"

#include "framework/text_format.hpp"
#include "log/logger.hpp"
#include "win/file_stream_writter.hpp"
#include "win/file_system.hpp"
#include "win/hash_file.hpp"
#include "win/process_info.hpp"
#include "win/system_error.hpp"

namespace qzr::sfx {

std::shared_ptr<payload_intf> payload::factory::create(const std::wstring& program_path) const {
    return std::make_shared<payload>(program_path);
}

payload::payload(const std::wstring& program_path) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    {
        const win::fs_redirection_auto redirection;
        // No write sharing: while the run holds this handle nobody can change
        // the bytes it verifies and reads.
        file_ = std::make_shared<win::file_handle>(::CreateFileW(program_path.c_str(), FILE_READ_DATA,
                                                                 FILE_SHARE_READ | FILE_SHARE_DELETE, &inheritable,
                                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!*file_) {
        const DWORD err = ::GetLastError();
        QZR_LOG_ERROR(L"Payload: Failed to open sfx file '%s', %u", program_path, err);
        throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Failed to open sfx file.");
    }
    source_ = std::make_shared<files::file_source>(file_->get());
}

byte_source& payload::image() { return *source_; }

void payload::load(veltro_info_intf& info) {
    pugi::xml_document scratch;
    auto file_list = scratch.append_child(L"file-list");
    index_ = std::make_unique<payload_index>(source_, file_list);
    info.add_node(file_list);

    auto mapping_sfx = scratch.append_child(L"file-mapping-sfx");
    mapping_sfx.append_child(L"handle").text().set(
        text::format(L"%08llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(file_->get())))
            .c_str());
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_->get(), &size)) {
        QZR_LOG_WARNING(L"Get file size of SFX fail %d", static_cast<std::int32_t>(::GetLastError()));
        size.QuadPart = 0;
    }
    mapping_sfx.append_child(L"size").text().set(text::decimal(size.QuadPart).c_str());
    info.add_node(mapping_sfx);
}

const payload_index& payload::index() const {
    if (!index_) throw qzr::exceptions::error("The payload has not been read.");
    return *index_;
}

std::shared_ptr<unpacker_intf> payload::find_by_sha(const std::wstring& sha) {
    const file_info* f = index().find_by_sha(sha);
    return f ? std::make_shared<unpacker>(source_, *f) : nullptr;
}

std::shared_ptr<unpacker_intf> payload::find_by_alias(const std::wstring& alias) {
    const file_info* f = index().find_by_alias(alias);
    return f ? std::make_shared<unpacker>(source_, *f) : nullptr;
}

std::vector<std::wstring> payload::aliases() const { return index().aliases(); }

std::vector<std::uint8_t> unpacker::unpack_data() { return unpack_entry(*image_, entry_); }

void set_file_content(void* file, byte_source& data) {
    const HANDLE h = static_cast<HANDLE>(file);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) win::raise_last_error(L"set_file_content");
    for (std::uint64_t at = 0; at < data.size();) {
        const byte_view part = data.next_window(at);
        if (!win::write_all(h, part.data(), part.size())) win::raise_last_error(L"set_file_content");
        at += part.size();
    }
    if (!::SetEndOfFile(h)) win::raise_last_error(L"set_file_content");
}

void set_file_content(void* file, byte_view data) {
    view_source source(data);
    set_file_content(file, source);
}

file_hold unpacker::unpack_to_file(const std::wstring& path) {
    {
        win::file_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) win::raise_last_error(L"Unable to create file '%ls'!", path);
        try {
            if (entry_.flags == payload_format::reader_stored) {
                range_source data(*image_, entry_.offset, entry_.size);
                set_file_content(file.get(), data);
            } else {
                packers::file_stream_writter writer(file.get());
                write_entry(*image_, entry_, writer);
            }
        } catch (...) {
            // Nothing partial stays behind.
            FILE_DISPOSITION_INFO info{TRUE};
            ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &info, sizeof info);
            throw;
        }
    }
    // The digest is read through the hold, which denies writers from here
    // on: what was checked is what stays until the hold goes.
    file_hold held;
    try {
        held = win::open_placed(path);
        if (!entry_.sha.empty()) check_entry_digest(entry_, root::hash_file(held.get()).bytes());
    } catch (...) {
        held.reset();
        ::DeleteFileW(path.c_str());
        throw;
    }
    return held;
}

}  // namespace qzr::sfx
