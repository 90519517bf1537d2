// The Win32 side of signature checks: files are mapped once, read-only, and
// verified as one block.
#pragma once

#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"

namespace qzr::sfx {

class verify_signature final : public verify_signature_intf {
public:
    struct factory : verify_signature_intf::factory {
        std::shared_ptr<verify_signature_intf> create() const override { return std::make_shared<verify_signature>(); }
    };

    bool dsa_signed_handle(void* file) override;
    bool dsa_signed_block(const std::uint8_t* data, std::size_t size) override;
    bool dsa_signed_source(byte_source& data) override;
    bool dsa_signed(const std::wstring& path) override;
    bool dsa_signed_any(const std::wstring& path) override;
};

}  // namespace qzr::sfx
