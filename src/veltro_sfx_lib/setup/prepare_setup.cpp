#include "veltro_sfx_lib/setup/prepare_setup.hpp"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "environment/os_info.hpp"
#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/compatibility_module.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"
#include "veltro_sfx_lib/setup/preparation_rules.hpp"
#include "win/file_system.hpp"

namespace qzr::sfx {

std::wstring prepare_setup::create_product_temp_folder(const std::wstring& name) const {
    const std::wstring folder = path::join(context_.params->get(keys::tmp_path, L""), name);
    if (win::is_directory(folder)) {
        QZR_LOG_INFO(L"The folder %s already exists.", folder);
        return folder;
    }
    if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
        const DWORD err = ::GetLastError();
        QZR_LOG_ERROR(L"Create directory '%s' fail %u!", folder, err);
        throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Create directory fail");
    }
    QZR_LOG_INFO(L"The temp folder '%s' has been successfully created.", folder);
    return folder;
}

void prepare_setup::process_setup_file(const product_info_parser_intf::file_info& file, const std::wstring& product,
                                       const std::wstring& folder, bool offline,
                                       const sfx_downloader_intf::progress_callback& progress) {
    if (!is_safe_relative_name(file.name)) {
        QZR_LOG_ERROR(L"The file name '%s' would leave the product folder, fail!", file.name);
        throw qzr::exceptions::error(qzr::exceptions::invalid_data_code,
                                     L"The file name '%s' would leave the product folder, fail!", file.name);
    }
    const std::wstring target = path::join(folder, file.name);
    if (const std::wstring parent = path::parent(target); parent != folder) win::create_directories(parent);
    // A file placed again (the product's module, first placed to ask it
    // for a channel) is let go first, or it could not be written.
    const auto hold = [&](file_hold h) {
        if (context_.placed) context_.placed->hold(target, std::move(h));
    };
    if (context_.placed) context_.placed->release(target);
    std::exception_ptr extraction_failure;
    if (const auto entry = find_setup_file(*context_.payload, file.sha256, file.name)) {
        try {
            hold(entry->unpack_to_file(target));
            if (progress) progress(static_cast<std::uint64_t>(file.size), static_cast<std::uint64_t>(file.size));
            QZR_LOG_DEBUG(L"File '%s' has been correctly unpacked from SFX archive and stored to '%s'.", file.name, target);
            return;
        } catch (const qzr::exceptions::detail::base& e) {
            QZR_LOG_ERROR(L"File '%s' from SFX archive has not been unpacked, fail with error %u!", file.name,
                          static_cast<std::uint32_t>(e.code()));
            // The repository may still have it, offline too. Offline, though,
            // a download that fails as well is not the news: the run ends
            // with what went wrong here (a full disk, say).
            if (offline) extraction_failure = std::current_exception();
        }
    } else if (offline) {
        QZR_LOG_ERROR(L"File '%s'|'%s' not found in SFX archive, mode 'offline', product '%s'", file.name, file.sha256,
                      product);
        throw qzr::exceptions::error(-1, L"File '%s'|'%s' not found in SFX archive, mode 'offline', product '%s'",
                                     file.name, file.sha256, product);
    }
    // The downloader reports this file's progress and no later one's.
    struct forget_progress {
        sfx_downloader_intf& downloader;
        ~forget_progress() { downloader.set_progress_callback(nullptr); }
    } forget{*downloader_};
    if (progress) downloader_->set_progress_callback(progress);
    try {
        hold(downloader_->download_product_lzma_file(file.sha256, target, file.sha256));
    } catch (const std::exception&) {
        if (extraction_failure) std::rethrow_exception(extraction_failure);
        throw;
    }
    QZR_LOG_DEBUG(L"File '%s' has been correctly downloaded and stored to '%s'.", file.name, target);
}

std::shared_ptr<product_info_parser_intf> prepare_setup::obtain_product_info(const std::wstring& url,
                                                                            const std::wstring& alias, bool offline) {
    std::exception_ptr download_failure;
    if (!offline) {
        try {
            return downloader_->download_product_info(url);
        } catch (const std::exception&) {
            download_failure = std::current_exception();
        }
    }
    const auto entry = context_.payload->find_by_alias(alias);
    if (!entry) {
        QZR_LOG_ERROR(L"The product-info.xml '%s' has not been found in SFX, fail!", alias);
        if (download_failure) std::rethrow_exception(download_failure);
        throw exceptions::missign_sfx_file(L"The product-info.xml '%s' has not been found in SFX, fail!", alias);
    }
    const std::vector<std::uint8_t> data = entry->unpack_data();
    if (!c_.verifier->create()->dsa_signed_block(data.data(), data.size())) {
        QZR_LOG_ERROR(L"DSA verification check of file data '%s' fail!", alias);
        throw qzr::exceptions::error(-1, L"File is not DSA signed (alias:%s)!", alias);
    }
    auto parser = c_.product_info->create(context_);
    parser->parse_data(data);
    QZR_LOG_INFO(L"The product-info.xml '%s' has been correctly unpacked from SFX archive.", alias);
    return parser;
}

void prepare_setup::apply_cookie(const std::wstring& cookie) {
    if (context_.reporting) context_.reporting->set_aiid(cookie);
    if (context_.info) context_.info->add_text_element(L"cookie", cookie);
}

void prepare_setup::prepare(std::wstring& master, const show_splash_callback& show_splash,
                            const progress_callback& progress) {
    const command_line& cmd = *context_.command;
    info_parser info(context_, c_.verifier);
    info.load();
    const std::int32_t language = context_.params->get_int(keys::lang_id, 0);
    if (context_.reporting) context_.reporting->set_title(info.title(language));

    context_.params->set(keys::base_url, cmd.find(L"base-url").value_or(info.base_url()));
    const std::wstring report_url = cmd.find(L"report-url").value_or(info.report_url());
    if (!report_url.empty() && context_.reporting) context_.reporting->set_report_url(report_url);
    if (info.silent()) context_.params->set_bool(keys::silent, true);
    if (info.nosplash()) context_.params->set_bool(keys::nosplash, true);
    if (info.clear() || cmd.has(L"clear")) {
        context_.params->set_bool(keys::clear, true);
        if (context_.reporting) context_.reporting->set_operation("clear");
    }

    // The microstub's cookie, then the command line's, which wins. The
    // microstub stays in the run context: it copies its EDAT files at the end
    // and holds its verified image until then.
    if (c_.microstub) {
        context_.microstub = c_.microstub->create(context_);
        context_.microstub->verify();
        if (const std::wstring cookie = context_.microstub->get_cookie(); !cookie.empty()) apply_cookie(cookie);
    }
    if (const auto cookie = cmd.find(L"cookie")) apply_cookie(*cookie);

    const bool offline = cmd.has(L"offline");
    if (context_.reporting) context_.reporting->set_edition(offline);
    const std::wstring title = info.title(language);
    if (cmd.has(L"ppi_icd")) {
        const std::int32_t choice = c_.confirm->create()->show(title, language);
        QZR_LOG_INFO(L"PPI dialog return %d", choice);
        if (choice == confirm_dlg_intf::cancel) throw exceptions::ppi_cancel();
        if (choice != confirm_dlg_intf::install) throw exceptions::ppi_abort(choice);
    }

    if (show_splash && splash_wanted(cmd, *context_.params)) show_splash(title);

    const auto evaluator = c_.evaluator->create(context_);
    auto products = info.products();
    if (products.empty()) throw qzr::exceptions::error("The sfx-info.xml does not contain any product data!");
    auto& main = products.front();
    const std::wstring folder = create_product_temp_folder(L"common");
    downloader_ = c_.downloader->create(context_);

    const std::wstring base_url = context_.params->get(keys::base_url, L"");
    if (!offline) {
        // The product's compatibility module may move the main product to
        // another channel; without one the channel stays.
        try {
            const std::wstring module = path::join(folder, L"veltro_mod.dll");
            const std::wstring module_url = base_url + L"/dll/" + main.name + L"/x86/veltro_mod.dll.lzma";
            downloader_->download_file(module_url, module, 1, true, false);
            QZR_LOG_DEBUG(L"File '%s' has been correctly downloaded and stored to '%s'.", module_url, module);
            if (const std::wstring channel = ask_channel(module, *c_.verifier->create(), main.name, main.channel);
                !channel.empty())
                main.channel = channel;
        } catch (const std::exception&) {
            QZR_LOG_INFO(L"No veltro_mod.dll");
        }
    }
    if (context_.reporting) report_products(*context_.reporting, products);

    const auto product_url = [&] { return base_url + L"/defs/" + main.name + L"/" + main.channel + L".xml.lzma"; };
    const std::wstring alias = main.name + L"/" + main.channel + L".xml";
    auto product_info = obtain_product_info(product_url(), alias, offline);

    if (!offline) {
        // A module among the product's own files may name another channel,
        // whose product-info is then fetched (from the repository only).
        std::wstring channel;
        try {
            for (const auto& f : product_info->get_setup_files()) {
                if (!utf::iequals(f.name, L"veltro_mod.dll")) continue;
                process_setup_file(f, main.name, folder, offline, nullptr);
                channel = ask_channel(path::join(folder, f.name), *c_.verifier->create(), main.name, main.channel);
                break;
            }
        } catch (const std::exception&) {
            QZR_LOG_INFO(L"Checking MOD end with exception.");
            channel.clear();
        }
        if (!channel.empty()) {
            main.channel = channel;
            product_info = downloader_->download_product_info(product_url());
        }
    }
    product_info->save(folder + L"\\product-info.xml");

    if (environment::os_info().native_platform == environment::platform::arm64 &&
        !product_info->get_product_info().arm64) {
        QZR_LOG_ERROR(L"Missing ARM64 veltro.exe, cannot be installed on ARM64");
        throw exceptions::unsupported_os();
    }

    const auto& files = product_info->get_setup_files();
    double total = 0;
    for (const auto& f : files) total += static_cast<double>(std::max<std::int64_t>(f.size, 0));
    double base = 0;
    for (const auto& f : files) {
        if (f.name.empty()) {
            QZR_LOG_ERROR(L"The file name is not specified in product-info.xml for hash '%s', fail!", f.sha256);
            throw qzr::exceptions::error(L"The file name is not specified in product-info.xml for hash '%s', fail!",
                                         f.sha256);
        }
        const double share = total > 0 ? static_cast<double>(std::max<std::int64_t>(f.size, 0)) / total * 100.0 : 0.0;
        // The downloader holds a copy of this function while the file is
        // fetched: it owns its count and its callback.
        process_setup_file(f, main.name, folder, offline,
                           [progress, base, share, done = std::uint64_t{0}](std::uint64_t chunk,
                                                                            std::uint64_t length) mutable {
                               done += chunk;
                               if (progress) progress(weighted_progress(base, share, done, length));
                           });
        base += share;
        evaluator->evaluate(f.name, product_info->get_setup_commands(), folder);
    }
    if (!offline && context_.info)
        context_.info->add_text_element(L"average-download-speed", text::format(L"%f", downloader_->average_speed()));
    try {
        sfx_edat(context_).unpack();
        if (context_.microstub) context_.microstub->copy_edat_files();
    } catch (const std::exception&) {
        QZR_LOG_ERROR(L"Unpacking edat fail.");
    }
    master = evaluator->get_command();
}

}  // namespace qzr::sfx
