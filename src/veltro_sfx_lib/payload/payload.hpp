// The payload of the stub's own executable: opened inheritable once for the
// whole run, denying writers, and read through that handle a window at a
// time, so the signature check, the payload reader and the setup master
// (through the handle it inherits) all see the same bytes, and an
// executable of any size costs one window of memory.
#pragma once

#include <memory>

#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload_index.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "win/file_source.hpp"
#include "win/handle.hpp"

namespace qzr::sfx {

class payload final : public payload_intf {
public:
    struct factory : payload_intf::factory {
        std::shared_ptr<payload_intf> create(const std::wstring& program_path) const override;
    };

    explicit payload(const std::wstring& program_path);

    byte_source& image() override;
    void load(veltro_info_intf& info) override;

    std::shared_ptr<unpacker_intf> find_by_sha(const std::wstring& sha) override;
    std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) override;
    std::vector<std::wstring> aliases() const override;
    void* master_handle() const override { return file_->get(); }

private:
    const payload_index& index() const;

    std::shared_ptr<win::file_handle> file_;
    std::shared_ptr<files::file_source> source_;
    std::unique_ptr<payload_index> index_;
};

// Writes data as the whole content of an open file (from its start, then
// cut to that length); raises "set_file_content" with the system code.
void set_file_content(void* file, byte_view data);
void set_file_content(void* file, byte_source& data);

class unpacker final : public unpacker_intf {
public:
    unpacker(std::shared_ptr<byte_source> image, file_info entry)
        : image_(std::move(image)), entry_(std::move(entry)) {}

    file_hold unpack_to_file(const std::wstring& path) override;
    std::vector<std::uint8_t> unpack_data() override;

private:
    std::shared_ptr<byte_source> image_;
    file_info entry_;
};

}  // namespace qzr::sfx
