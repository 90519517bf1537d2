// Events as the stub writes them, for the receiver's tests: the stub's own
// document writer, fed with a run's facts.
#pragma once

#include <optional>
#include <string>

#include "veltro_sfx_lib/reporting/sfx_event.hpp"

namespace qzr::test {

struct stub_run {
    std::wstring session = L"0f1e2d3c-4b5a-4978-8796-a5b4c3d2e1f0";
    std::wstring product = L"studio";
    std::wstring channel = L"release";
    std::wstring title = L"Veltro Studio";
    std::optional<std::int32_t> ret_code;
    bool reboot = false;
    std::uint32_t major = 10, minor = 0, build = 19045;
    std::string architecture = "AMD64";
    std::int32_t language = 0x0409;
    std::string sfx_version = "1.0.0.1";
    std::string request_id = "00000000-0000-4000-8000-000000000001";
    std::int64_t time_ms = 1796755000000;
};

inline std::string stub_event(const std::string& stage, const stub_run& run) {
    sfx::sfx_event_state s;
    s.set_session_id(run.session);
    s.set_title(run.title);
    s.set_cmdline(L"\"C:\\Users\\u\\Downloads\\setup.exe\" /silent");
    s.set_trigger(L"4242-explorer.exe");
    s.set_temp_path(L"C:\\Temp\\qzr");
    s.add_main_product(run.product, run.channel, true);
    if (run.reboot) s.set_reboot(true);
    if (run.ret_code) s.set_ret_code(*run.ret_code);
    sfx::sfx_event_state::machine m;
    m.now_ms = [t = run.time_ms] { return t; };
    m.request_id = run.request_id;
    m.sfx_version = run.sfx_version;
    m.memory_mib = 16384;
    m.processors = 8;
    m.workstation = true;
    m.available_mib = 51200;
    m.hwid = std::string(32, 'A') + std::string(32, '0');
    m.architecture = run.architecture;
    m.major = run.major;
    m.minor = run.minor;
    m.build = run.build;
    m.ui_language = run.language;
    m.time_zone_bias = -60;
    m.product_version = "24.1.0.0";
    return s.document(stage, m);
}

}  // namespace qzr::test
