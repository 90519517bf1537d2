// Fuzz driver for the sfx-info.xml parser. The input is the document as the
// payload holds it (seeds: documents of the tests and the demo, signed with
// veltro-pack sign-xml); the signature is taken as good here, the signature
// target checks it. Each document is loaded as a plain run and as one with
// /noupdate and channel overrides, which edit the copy handed over; a bad
// document raises the project's errors only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "../support/memory_payload.hpp"
#include "framework/errors.hpp"
#include "fuzz_support.hpp"
#include "veltro_sfx_lib/description/sfx_info_parser.hpp"
#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

struct accepting_verifier_factory : verify_signature_intf::factory {
    struct verifier : verify_signature_intf {
        bool dsa_signed_handle(void*) override { return true; }
        bool dsa_signed_block(const std::uint8_t*, std::size_t) override { return true; }
        bool dsa_signed_source(qzr::byte_source&) override { return true; }
        bool dsa_signed(const std::wstring&) override { return true; }
        bool dsa_signed_any(const std::wstring&) override { return true; }
    };
    std::shared_ptr<verify_signature_intf> create() const override { return std::make_shared<verifier>(); }
};

void load(const std::string& document, const wchar_t* command) {
    auto payload = std::make_shared<test::memory_payload>();
    payload->entries[info_parser::alias] = document;
    auto info = std::make_shared<veltro_info>();
    sfx_data_holder context;
    context.params = std::make_shared<value_holder>();
    context.command = std::make_shared<command_line>(command, false);
    context.payload = payload;
    context.info = info;
    info_parser parser(context, std::make_shared<accepting_verifier_factory>());
    try {
        parser.load();
    } catch (const exceptions::error&) {
        return;
    }
    for (const std::int32_t language : {1033, 1031, 1041, 0})
        (void)parser.title(language);
    (void)info->to_string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::log_everything();
    const std::string document(reinterpret_cast<const char*>(data), size);
    load(document, L"");
    load(document, L"/noupdate /channels:demo=nightly;suite=beta");
    return 0;
}
