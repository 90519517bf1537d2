#include "veltro_sfx_lib/description/product_info_parser.hpp"

#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/text_format.hpp"
#include "framework/utf.hpp"
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

// An element as the log shows it: its XML, cut short when long.
std::wstring describe(const pugi::xml_node& node) {
    xml::string_writer out;
    node.print(out, L"", pugi::format_raw, pugi::encoding_utf8);
    constexpr std::size_t longest = 200;
    std::wstring text = utf::from_utf8(out.text);
    if (text.size() > longest) text = text.substr(0, longest) + L"...";
    return text;
}

std::wstring verdict_text(const product_info_parser::judgement& j) {
    return (j.applies ? L"applied (" : L"not applied (") + j.rule + L")";
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
    std::uint32_t group_number = 0;
    xml::each_along(doc, {L"product-info", L"setup-files"}, [&](pugi::xml_node group) {
        const judgement g = judge(group);
        QZR_LOG_DEBUG(L"Setup files group %u: %s", ++group_number, verdict_text(g));
        for (const pugi::xml_node f : group.children(L"file")) {
            const std::wstring name = f.child(L"name").text().get();
            const judgement j = g.applies ? judge(f) : judgement{false, L"its group is not applied"};
            QZR_LOG_DEBUG(L"Setup file '%s': %s", name, verdict_text(j));
            if (!j.applies) continue;
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
    commands_logged_.clear();
    doc_ = std::move(doc);
    raw_ = std::move(raw);
    files_ = std::move(files);
    product_ = std::move(product_read);
}

pugi::xml_node product_info_parser::get_setup_commands() const {
    pugi::xml_node chosen;
    std::size_t number = 0;
    xml::each_along(doc_, {L"product-info", L"setup-commands"}, [&](pugi::xml_node candidate) {
        const judgement j = judge(candidate);
        const std::wstring line =
            text::format(L"Setup commands %u (executable '%s'): %s", static_cast<std::uint32_t>(number + 1),
                         candidate.attribute(L"executable").as_string(L"veltro.exe"), verdict_text(j));
        if (commands_logged_.size() <= number) commands_logged_.resize(number + 1);
        if (commands_logged_[number] != line) {
            QZR_LOG_DEBUG(L"%s", line);
            commands_logged_[number] = line;
        }
        ++number;
        if (!j.applies) return true;
        chosen = candidate;
        return false;
    });
    if (chosen) return chosen;
    QZR_LOG_ERROR(L"The <setup-commands> element is not presented in product-info.xml!");
    return pugi::xml_node();
}

product_info_parser::judgement product_info_parser::judge(const pugi::xml_node& node) const {
    try {
        const auto context = create_context();
        bool any = false;
        for (const wchar_t* name : {L"conditions", L"conditions2"}) {
            const pugi::xml_node element = node.child(name);
            any = any || element;
            rc::condition_root root;
            root.load(element, *context);
            const auto v = root.explain(*context);
            if (v.result) continue;
            return {false, v.decided_by ? describe(v.decided_by) + L" in " + name
                                        : L"<" + std::wstring(name) + L" default=\"false\">"};
        }
        return {true, any ? L"every condition holds" : L"no conditions"};
    } catch (const qzr::exceptions::error& e) {
        return {false, utf::from_utf8(e.what())};
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
