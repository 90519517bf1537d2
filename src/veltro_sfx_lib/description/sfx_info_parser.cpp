#include "veltro_sfx_lib/description/sfx_info_parser.hpp"

#include <pugixml.hpp>

#include "framework/xml_path.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::sfx {

namespace {

constexpr std::int32_t channel_format_code = 44030;  // 0xABFE

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t from = 0;
    for (;;) {
        const auto at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::wstring::npos ? std::wstring::npos : at - from));
        if (at == std::wstring::npos) return parts;
        from = at + 1;
    }
}

std::map<std::wstring, std::wstring> channel_overrides(const command_line& cmd) {
    std::map<std::wstring, std::wstring> out;
    const auto value = cmd.find(L"channels");
    if (!value) return out;
    for (const auto& piece : split(*value, L';')) {
        const auto pair = split(piece, L'=');
        if (pair.size() != 2) throw qzr::exceptions::error(channel_format_code, "Channel override has wrong format.");
        out[pair[0]] = pair[1];
    }
    return out;
}

// 1.2.3.4 with channel release pins to 1/2/3/4/release.
std::wstring pinned_channel(std::wstring version, const std::wstring& channel) {
    for (auto& c : version)
        if (c == L'.') c = L'/';
    return version + L"/" + channel;
}

}  // namespace

info_parser::info_parser(const sfx_data_holder& context, std::shared_ptr<const verify_signature_intf::factory> verifier)
    : context_(context), verifier_(std::move(verifier)) {}

void info_parser::load() {
    const auto entry = context_.payload ? context_.payload->find_by_alias(alias) : nullptr;
    if (!entry) {
        QZR_LOG_ERROR(L"Mandatory file '%s' is missing in payload.", alias);
        throw exceptions::missign_sfx_file(L"sfx info file wasn't found in payload.");
    }
    const std::vector<std::uint8_t> data = entry->unpack_data();
    if (!verifier_->create()->dsa_signed_block(data.data(), data.size())) {
        QZR_LOG_ERROR(L"DSA verification check of file '%s' fail!", alias);
        throw qzr::exceptions::error(-1, L"File is not DSA signed (alias:%s)!", alias);
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(data.data(), data.size());
    if (!parsed) {
        QZR_LOG_ERROR(L"Failed to parse xml file '%s', '%s'", alias, parsed.description());
        throw exceptions::missign_sfx_file(L"sfx info can't be parsed.");
    }

    using xml::first_along;
    base_url_ = first_along(doc, {L"sfx-info", L"repository", L"base-url"}).text().get();
    report_url_ = first_along(doc, {L"sfx-info", L"report", L"url"}).text().get();
    silent_ = first_along(doc, {L"sfx-info", L"params", L"silent"}).text().as_bool(false);
    nosplash_ = first_along(doc, {L"sfx-info", L"params", L"nosplash"}).text().as_bool(false);
    clear_ = first_along(doc, {L"sfx-info", L"params", L"clear"}).text().as_bool(false);
    xml::each_along(doc, {L"sfx-info", L"title"}, [&](pugi::xml_node t) {
        const auto language = language_of(t.attribute(L"lang").value()).value_or(default_language);
        titles_.emplace(language, t.text().get());  // the first title of a language wins
        return true;
    });

    static const command_line no_switches;
    const command_line& cmd = context_.command ? *context_.command : no_switches;
    const auto overrides = channel_overrides(cmd);
    const bool noupdate = cmd.has(L"noupdate");
    std::vector<pugi::xml_node> nodes;
    xml::each_along(doc, {L"sfx-info", L"products", L"product"}, [&](pugi::xml_node n) {
        nodes.push_back(n);
        return true;
    });
    if (nodes.empty()) throw qzr::exceptions::error("The sfx-info.xml does not contain any product data!");
    for (pugi::xml_node element : nodes) {
        product p{element.attribute(L"name").value(), element.attribute(L"channel").value(),
                  element.attribute(L"version").value()};
        if (noupdate) {
            p.channel = pinned_channel(p.version, p.channel);
            if (!element.attribute(L"channel")) element.append_attribute(L"channel");
            element.attribute(L"channel").set_value(p.channel.c_str());
        }
        if (auto it = overrides.find(p.name); it != overrides.end()) p.channel = it->second;
        if (noupdate && element.child(L"sub-products").child(L"product")) {
            // Sub-products are pinned by their own version and channel; the
            // document only carries the parent's final channel, and only when
            // there is a sub-product: an empty sub-products element leaves
            // the parent pinned.
            element.attribute(L"channel").set_value(p.channel.c_str());
        }
        products_.push_back(std::move(p));
    }

    if (context_.info)
        for (const pugi::xml_node child : doc.document_element().children())
            if (child.type() == pugi::node_element) context_.info->add_node(child);
}

const std::wstring info_parser::alias = L"sfx-info.xml";

std::wstring info_parser::title(std::int32_t language) const {
    if (auto it = titles_.find(language); it != titles_.end()) return it->second;
    if (language != default_language)
        if (auto it = titles_.find(default_language); it != titles_.end()) return it->second;
    return std::wstring();
}

}  // namespace qzr::sfx
