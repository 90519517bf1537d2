// The index of the payload appended to the stub's own executable, and the
// extraction of one entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/byte_source.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"

namespace qzr::sfx {

class veltro_info_intf;

class unpacker_intf {
public:
    // Creates (or replaces) the file with the entry's content and returns it
    // held (see placed_files), checked against the entry's digest through
    // that hold; no file remains when this fails.
    virtual file_hold unpack_to_file(const std::wstring& path) = 0;
    virtual std::vector<std::uint8_t> unpack_data() = 0;
    virtual ~unpacker_intf() = default;
};

class payload_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // Opens the executable at program_path once, denying writers, and
        // maps it; nothing of the payload is read yet.
        virtual std::shared_ptr<payload_intf> create(const std::wstring& program_path) const = 0;
    };

    // The whole executable through the handle that every later read uses:
    // its signature is checked over exactly these bytes, so a file swapped
    // on disk after the check cannot reach the payload reader.
    virtual byte_source& image() = 0;
    // Reads the payload and writes its file list and mapping into the
    // hand-over document. Only after the image has been verified.
    virtual void load(veltro_info_intf& info) = 0;

    // None when no entry without alias has this digest text.
    virtual std::shared_ptr<unpacker_intf> find_by_sha(const std::wstring& sha) = 0;
    // None when no entry has this alias (exact, case-sensitive).
    virtual std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) = 0;
    virtual std::vector<std::wstring> aliases() const = 0;
    // The inheritable handle of the executable that the hand-over document
    // names for the setup master; the only handle the master inherits.
    // Null when there is none.
    virtual void* master_handle() const { return nullptr; }
    virtual ~payload_intf() = default;
};

}  // namespace qzr::sfx
