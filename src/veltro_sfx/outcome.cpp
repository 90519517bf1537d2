#include "veltro_sfx/outcome.hpp"

#include "framework/text_format.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

namespace qzr::sfx {

namespace {

using box = failure_outcome::box_kind;
using log_kind = failure_outcome::log_kind;

std::wstring text_of(const std::exception& e) { return utf::from_utf8(e.what()); }

failure_outcome make(std::int32_t exit_code, box b, std::int32_t box_code, std::wstring message) {
    failure_outcome o;
    o.exit_code = exit_code;
    o.box = b;
    o.box_code = box_code;
    o.message = std::move(message);
    return o;
}

std::wstring trim_blanks(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    return std::wstring(text);
}

std::wstring accepted_id(command_line& cmd, const wchar_t* key) {
    const auto value = cmd.find(key);
    if (!value) return {};
    std::wstring id = trim_blanks(*value);
    if (uuid::has_uuid_shape(id)) return id;
    cmd.remove(key);
    return {};
}

}  // namespace

failure_outcome classify_failure(const std::exception_ptr& failure) {
    namespace ex = exceptions;
    try {
        std::rethrow_exception(failure);
    } catch (const ex::unsupported_os&) {
        return make(ex::unsupported_os_code, box::general, ex::unsupported_os_code, L"@Sfx_UnsupportedOS");
    } catch (const ex::download_file_invalid_signature&) {
        return make(ex::sfx_invalid_signature_code, box::general, ex::sfx_invalid_signature_code,
                    L"@Sfx_FileInvalidSignature");
    } catch (const ex::sfx_invalid_signature& e) {
        return make(ex::sfx_invalid_signature_code, box::general, e.code(), text_of(e));
    } catch (const ex::download_file_fail& e) {
        auto o = make(ex::download_fail_exit_code, box::download, e.code(), L"@Sfx_Download_Fail");
        o.argument = text::decimal(static_cast<std::uint32_t>(e.code()));
        return o;
    } catch (const ex::missign_sfx_file&) {
        return make(ex::missing_sfx_exit_code, box::general, ex::missing_sfx_exit_code, L"@Sfx_MissingSfx");
    } catch (const ex::ppi_abort& e) {
        return make(e.code(), box::none, e.code(), {});
    } catch (const ex::insufficient_integrity_level& e) {
        return make(e.code(), box::general, e.code(), L"@Sfx_LowIntegrity");
    } catch (const qzr::exceptions::detail::base& e) {
        auto o = make(e.code(), box::general, e.code(), text_of(e));
        o.log = log_kind::error_object;
        return o;
    } catch (const std::exception& e) {
        auto o = make(1, box::general, 1, text_of(e));
        o.log = log_kind::generic;
        o.log_text = e.what();
        return o;
    } catch (...) {
        // Not an exception of ours nor of the standard library: still a
        // failure with a box and an exit code, never a crash.
        auto o = make(1, box::general, 1, L"Unknown exception");
        o.log = log_kind::generic;
        o.log_text = "Unknown exception";
        return o;
    }
}

box_text compose_failure_box(const sfx_translator_intf& translator, const failure_outcome& outcome,
                             const std::wstring& log_path) {
    box_text t;
    t.caption = translator.translate(L"@Sfx_MsgBoxTitle");
    t.body = outcome.box == box::download ? translator.translate(outcome.message, {outcome.argument})
                                          : translator.translate(outcome.message);
    t.body += text::format(L"\n\n%s:'%d'.\n\n%s:\n'%s'.", translator.translate(L"@Sfx_ErrCode"), outcome.box_code,
                           translator.translate(L"@Sfx_LogInfo"), log_path);
    return t;
}

bool boxes_suppressed(const command_line& cmd) { return cmd.has(L"silent") || cmd.has(L"verysilent"); }

std::wstring select_client_id(command_line& cmd, std::wstring (*make_fresh)()) {
    std::wstring id = accepted_id(cmd, L"track-guid");
    if (std::wstring ga = accepted_id(cmd, L"ga_clientid"); !ga.empty()) id = std::move(ga);
    if (id.empty()) id = make_fresh();
    return id;
}

}  // namespace qzr::sfx
