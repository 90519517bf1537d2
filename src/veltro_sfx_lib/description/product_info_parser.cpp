#include "veltro_sfx_lib/description/product_info_parser.hpp"

#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/xml_path.hpp"
#include "log/logger.hpp"
#include "repository/conditions/condition_kinds.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

namespace qzr::sfx {

namespace rc = repository::conditions;

namespace {

// A "file" element anywhere whose first "name" child's text contains
// "veltro.exe".
bool has_master_file(const pugi::xml_document& doc) {
    const pugi::xml_node found = doc.find_node([](pugi::xml_node n) {
        if (n.type() != pugi::node_element || std::wstring_view(n.name()) != L"file") return false;
        std::wstring name;
        if (const pugi::xml_node first = n.child(L"name")) xml::append_string_value(first, name);
        return name.find(L"veltro.exe") != std::wstring::npos;
    });
    return bool(found);
}

// An "os" element anywhere with a "platform" attribute of "arm64".
bool has_arm64_os(const pugi::xml_document& doc) {
    const pugi::xml_node found = doc.find_node([](pugi::xml_node n) {
        return n.type() == pugi::node_element && std::wstring_view(n.name()) == L"os" &&
               xml::has_attribute(n, L"platform", L"arm64");
    });
    return bool(found);
}

}  // namespace

product_info_parser::product_info_parser(const sfx_data_holder& context,
                                         std::shared_ptr<const rc::host_facts_intf> host)
    : context_(context), host_(std::move(host)) {}

void product_info_parser::parse_data(const std::vector<std::uint8_t>& data) {
    if (data.empty()) throw qzr::exceptions::error("Product-info data are empty.");
    // Everything is read into locals and taken over only when the whole
    // document has been read: a failed parse leaves the getters answering
    // from the last good one. Comments and text inside conditions are kept,
    // so that they meet the condition factory like any other stray child.
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(data.data(), data.size(), pugi::parse_default | pugi::parse_comments);
    if (!parsed) {
        QZR_LOG_ERROR("Failed to parse product-info data, %s.", parsed.description());
        throw qzr::exceptions::error("Product-info data can't be parsed.");
    }

    std::vector<file_info> files;
    xml::each_along(doc, {L"product-info", L"setup-files"}, [&](pugi::xml_node group) {
        if (!check_conditions(group)) return true;
        for (const pugi::xml_node f : group.children(L"file")) {
            if (!check_conditions(f)) continue;
            files.push_back({f.child(L"name").text().get(), f.child(L"sha-256").text().get(),
                             f.child(L"timestamp").text().as_llong(0), f.child(L"size").text().as_llong(0)});
        }
        return true;
    });
    product_info product_read;
    product_read.name = xml::first_along(doc, {L"product-info", L"name"}).text().get();
    product_read.version = xml::first_along(doc, {L"product-info", L"version"}).text().get();
    product_read.arm64 = has_master_file(doc) && has_arm64_os(doc);

    std::vector<std::uint8_t> raw = data;
    doc_ = std::move(doc);
    raw_ = std::move(raw);
    files_ = std::move(files);
    product_ = std::move(product_read);
}

pugi::xml_node product_info_parser::get_setup_commands() const {
    pugi::xml_node chosen;
    xml::each_along(doc_, {L"product-info", L"setup-commands"}, [&](pugi::xml_node candidate) {
        if (!check_conditions(candidate)) return true;
        chosen = candidate;
        return false;
    });
    if (chosen) return chosen;
    QZR_LOG_ERROR(L"The <setup-commands> element is not presented in product-info.xml!");
    return pugi::xml_node();
}

bool product_info_parser::check_conditions(const pugi::xml_node& node) const {
    try {
        const auto context = create_context();
        rc::condition_root first;
        first.load(node.child(L"conditions"), *context);
        if (!first.evaluate(*context)) return false;
        rc::condition_root second;
        second.load(node.child(L"conditions2"), *context);
        return second.evaluate(*context);
    } catch (const qzr::exceptions::error&) {
        return false;
    }
}

std::unique_ptr<rc::basic_context> product_info_parser::create_context() const {
    auto context = std::make_unique<rc::basic_context>();
    context->factory = rc::make_condition_factory();
    auto expander = std::make_shared<repository::light_expander>();
    expander->set(L"%VELTRO_IS_MAIN_PRODUCT%", L"1");
    expander->set(L"%VELTRO_IS_SFX%", L"1");
    expander->set(L"%VELTRO_IS_MASTER%", L"1");
    const bool silent_parameter = context_.params && context_.params->get(keys::silent, L"") == L"1";
    const bool silent_switch = context_.command && context_.command->has(L"silent");
    expander->set(L"%VELTRO_IS_SILENT%", silent_parameter && !silent_switch ? L"1" : L"0");
    context->expander = expander;
    if (!host_) throw qzr::exceptions::error("No host facts for product-info conditions.");
    context->host = host_;
    return context;
}

void product_info_parser::save(const std::wstring& path) const { files::write_whole_file(path, raw_); }

}  // namespace qzr::sfx
