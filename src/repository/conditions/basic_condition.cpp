#include "repository/conditions/basic_condition.hpp"

#include <limits>

#include "framework/errors.hpp"
#include "framework/text_format.hpp"
#include "log/logger.hpp"

namespace qzr::repository::conditions {

void basic_condition::load(const pugi::xml_node& node, const basic_context&) {
    if (node) name_ = node.name();
    else name_.reset();
}

void basic_condition::save(pugi::xml_node node) const {
    if (name_) node.set_name(name_->c_str());
}

void condition_container::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    children_.clear();
    sources_.clear();
    // Every child goes through the factory: a comment or a piece of text has
    // no condition name, is refused with a warning and skipped like any
    // unknown element.
    for (pugi::xml_node child : node.children()) {
        try {
            auto condition = context.factory->create(child.name());
            condition->load(child, context);
            children_.push_back(std::move(condition));
            sources_.push_back(child);
        } catch (const exceptions::error& e) {
            QZR_LOG_WARNING("%s", e.what());
            const pugi::xml_attribute unsupported = child.attribute(L"unsupported");
            if (!unsupported) continue;
            QZR_LOG_WARNING(L"Unknown condition, but 'unsupported' attribute present:'%s'", unsupported.value());
            pugi::xml_document scratch;
            auto element = scratch.append_child(L"boolean");
            element.append_attribute(L"value") = unsupported.value();
            auto replacement = context.factory->create(L"boolean");
            replacement->load(element, context);
            children_.push_back(std::move(replacement));
            sources_.push_back(child);
        }
    }
}

void condition_container::save(pugi::xml_node node) const {
    basic_condition::save(node);
    for (const auto& child : children_) child->save(node.append_child(L"condition"));
}

bool condition_and::evaluate(const basic_context& context) const {
    if (children_.empty()) missing_attributes(L"and");
    for (const auto& child : children_)
        if (!child->evaluate(context)) return false;
    return true;
}

bool condition_or::evaluate(const basic_context& context) const {
    if (children_.empty()) missing_attributes(L"or");
    for (const auto& child : children_)
        if (child->evaluate(context)) return true;
    return false;
}

bool condition_not::evaluate(const basic_context& context) const {
    if (children_.size() != 1) missing_attributes(L"not");
    return !children_.front()->evaluate(context);
}

void condition_root::load(const pugi::xml_node& node, const basic_context& context) {
    condition_container::load(node, context);
    default_ = attributes::read_bool(node, L"default");
}

void condition_root::save(pugi::xml_node node) const {
    condition_container::save(node);
    attributes::write(node, L"default", default_);
}

condition_root::verdict condition_root::explain(const basic_context& context) const {
    for (std::size_t i = 0; i < children_.size(); ++i)
        if (!children_[i]->evaluate(context)) return {false, sources_[i]};
    return {default_.value_or(true), {}};
}

std::unique_ptr<basic_condition> basic_factory::create(const std::wstring& name) const {
    auto it = creators_.find(name);
    if (it == creators_.end()) throw exceptions::error(L"Unable to parse element '%ls' as a condition!", name);
    return it->second();
}

namespace attributes {

std::optional<std::wstring> read_string(const pugi::xml_node& node, const wchar_t* name) {
    const pugi::xml_attribute a = node.attribute(name);
    if (!a) return std::nullopt;
    return std::wstring(a.value());
}

std::optional<bool> read_bool(const pugi::xml_node& node, const wchar_t* name) {
    const auto text = read_string(node, name);
    if (text == L"true") return true;
    if (text == L"false") return false;
    return std::nullopt;
}

std::optional<std::int64_t> parse_int64(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i == text.size()) return std::nullopt;
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - L'0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (negative) return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                                : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

namespace {

struct version_reading {
    std::array<std::uint16_t, 4> parts{};
    bool plain = true;  // only digits and dots, every part within 16 bits, all of the text read
};

version_reading scan_version(std::wstring_view text) {
    version_reading r;
    std::size_t i = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        const std::size_t start = i;
        while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
        if (i != start) r.plain = false;
        if (i >= text.size() || text[i] < L'0' || text[i] > L'9') {
            r.plain = false;
            break;
        }
        std::uint32_t value = 0;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
            value = value * 10 + static_cast<std::uint32_t>(text[i] - L'0');
            if (value > 0xffff) r.plain = false;
        }
        r.parts[part] = static_cast<std::uint16_t>(negative ? 0u - value : value);
        if (i >= text.size() || text[i] != L'.') break;
        ++i;
    }
    if (i != text.size()) r.plain = false;
    return r;
}

}  // namespace

std::array<std::uint16_t, 4> read_version(std::wstring_view text) { return scan_version(text).parts; }

bool is_plain_version(std::wstring_view text) { return scan_version(text).plain; }

std::optional<std::int32_t> read_int32(const pugi::xml_node& node, const wchar_t* name) {
    const auto text = read_string(node, name);
    if (!text) return std::nullopt;
    const auto value = parse_int64(*text);
    if (!value) return std::nullopt;
    if (*value < std::numeric_limits<std::int32_t>::min() || *value > std::numeric_limits<std::int32_t>::max())
        throw narrowing_error();
    return static_cast<std::int32_t>(*value);
}

void write(pugi::xml_node node, const wchar_t* name, const std::optional<std::wstring>& value) {
    if (value) node.append_attribute(name) = value->c_str();
}

void write(pugi::xml_node node, const wchar_t* name, const std::optional<bool>& value) {
    if (value) node.append_attribute(name) = *value ? L"true" : L"false";
}

void write(pugi::xml_node node, const wchar_t* name, const std::optional<std::int32_t>& value) {
    if (value) node.append_attribute(name) = text::decimal(*value).c_str();
}

}  // namespace attributes

void assertion_failed(const char* expression) {
    throw exceptions::error(exceptions::invalid_parameter_code, L"The assertion failed for expression: %s", expression);
}

void missing_attributes(const wchar_t* element) {
    throw exceptions::error(exceptions::invalid_parameter_code, L"%ls: The XML element is missing required attributes!",
                            element);
}

}  // namespace qzr::repository::conditions
