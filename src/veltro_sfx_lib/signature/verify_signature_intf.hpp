// Checking DSA signatures of files and documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/byte_source.hpp"

namespace qzr::sfx {

class verify_signature_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<verify_signature_intf> create() const = 0;
    };

    // The whole open file (a Windows handle), default key set.
    virtual bool dsa_signed_handle(void* file) = 0;
    // A memory block (a document), default key set.
    virtual bool dsa_signed_block(const std::uint8_t* data, std::size_t size) = 0;
    // All of a source (the stub's own executable, read a window at a time),
    // default key set.
    virtual bool dsa_signed_source(byte_source& data) = 0;
    // A file by path, default key set; raises when it cannot be opened.
    virtual bool dsa_signed(const std::wstring& path) = 0;
    // A file by path, any known key.
    virtual bool dsa_signed_any(const std::wstring& path) = 0;
    virtual ~verify_signature_intf() = default;
};

}  // namespace qzr::sfx
