// What the payload and signature code need of a mapped file: its size and a
// read-only view. The Win32 file_mapping provides it for real files;
// memory_mapping serves tools and tests with bytes already in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/byte_view.hpp"
#include "framework/errors.hpp"

namespace qzr::files {

class mapped_file_intf {
public:
    virtual ~mapped_file_intf() = default;
    virtual bool initialized() const noexcept = 0;
    virtual bool view_mapped() const noexcept = 0;
    // "Unable to retrieve size of uninitialized mapping!" without a mapping.
    virtual std::uint64_t size() const = 0;
    // "Unable to retrieve pointer of the unmapped view!" without a view.
    virtual byte_view view() const = 0;
};

class memory_mapping final : public mapped_file_intf {
public:
    explicit memory_mapping(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool initialized() const noexcept override { return true; }
    bool view_mapped() const noexcept override { return true; }
    std::uint64_t size() const override { return bytes_.size(); }
    byte_view view() const override { return byte_view(bytes_.data(), bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace qzr::files
