#include "repository/conditions/condition_kinds.hpp"

#include "framework/errors.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"

namespace qzr::repository::conditions {

namespace {

using attributes::read_bool;
using attributes::read_int32;
using attributes::read_string;
using attributes::write;

constexpr std::uint32_t directory_attribute = 0x10;

int sign(std::int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int compare_text(const std::wstring& a, const std::wstring& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t x = utf::ascii_lower(a[i]), y = utf::ascii_lower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

void condition_boolean::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    value_ = read_bool(node, L"value");
}

void condition_boolean::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"value", value_);
}

bool condition_boolean::evaluate(const basic_context&) const {
    if (!value_) assertion_failed("m_value");
    return *value_;
}

void condition_basic_compare::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    left_ = read_string(node, L"left");
    right_ = read_string(node, L"right");
    type_ = read_string(node, L"type");
}

void condition_basic_compare::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"left", left_);
    write(node, L"right", right_);
    write(node, L"type", type_);
}

int condition_basic_compare::compare(const basic_context& context) const {
    if (!left_) assertion_failed("m_left");
    if (!right_) assertion_failed("m_right");
    const std::wstring left = context.expander->expand(*left_);
    const std::wstring right = context.expander->expand(*right_);
    const auto left_number = attributes::parse_int64(left);
    const auto right_number = attributes::parse_int64(right);
    int result;
    if (type_ && utf::iequals(*type_, words::version_type)) {
        const auto a = attributes::read_version(left), b = attributes::read_version(right);
        result = a < b ? -1 : a > b ? 1 : 0;
    } else if (left_number && right_number) {
        result = *left_number < *right_number ? -1 : *left_number > *right_number ? 1 : 0;
    } else {
        result = compare_text(left, right);
    }
    QZR_LOG_DEBUG(L"condition_compare: left:'[%ls]{%ls}' %s right:'[%ls]{%ls}'", *left_, left,
                  result == 0 ? L"==" : result == -1 ? L"<" : L">", *right_, right);
    return result;
}

void condition_starts_with::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    string_ = read_string(node, L"string");
    prefix_ = read_string(node, L"prefix");
}

void condition_starts_with::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"string", string_);
    write(node, L"prefix", prefix_);
}

bool condition_starts_with::evaluate(const basic_context& context) const {
    if (!string_) assertion_failed("m_str");
    if (!prefix_) assertion_failed("m_prefix");
    const std::wstring text = context.expander->expand(*string_);
    const std::wstring prefix = context.expander->expand(*prefix_);
    const bool result = prefix.size() <= text.size() && utf::iequals(std::wstring_view(text).substr(0, prefix.size()), prefix);
    QZR_LOG_DEBUG(L"condition_starts_with: string:'%s' prefix:'%s' result=%d", text, prefix, result ? 1 : 0);
    return result;
}

void condition_path::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    path_ = read_string(node, L"path");
    type_ = read_string(node, L"type");
    exists_ = read_bool(node, L"exists");
}

void condition_path::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"path", path_);
    write(node, L"type", type_);
    write(node, L"exists", exists_);
}

void condition_file::load(const pugi::xml_node& node, const basic_context& context) {
    condition_path::load(node, context);
    if (!type_) type_ = words::file_type;
    empty_ = read_bool(node, L"empty");
}

void condition_file::save(pugi::xml_node node) const {
    condition_path::save(node);
    write(node, L"empty", empty_);
}

bool condition_file::evaluate(const basic_context& context) const {
    if (!(path_ && !path_->empty())) assertion_failed("m_path && !m_path->empty()");
    if (!(exists_ || empty_)) assertion_failed("m_exists || m_empty");
    if (!(!empty_ || type_ == words::file_type)) assertion_failed("!m_empty || m_type == L\"file\"");
    const std::wstring path = context.expander->expand(*path_);
    return check_exists(context, path) && check_empty(context, path);
}

bool condition_file::check_exists(const basic_context& context, const std::wstring& path) const {
    if (!exists_) return true;
    bool found = false;
    try {
        if (utf::iequals(*type_, words::file_type)) {
            const auto attributes = context.host->file_attributes(path);
            found = attributes && !(*attributes & directory_attribute);
        } else if (utf::iequals(*type_, words::device_type)) {
            found = context.host->device_exists(path);
        }
    } catch (const exceptions::detail::base& e) {
        QZR_LOG_WARNING("Exception in 'exists' condition %s (%ld)", e.what(), e.code());
        found = false;
    }
    QZR_LOG_DEBUG(L"%ls: The %ls '[%ls]{%ls}' %s.", L"file", *type_, *path_, path, found ? L"exists" : L"does not exist");
    return found == *exists_;
}

bool condition_file::check_empty(const basic_context& context, const std::wstring& path) const {
    if (!empty_) return true;
    if (!check_exists(context, path)) return false;
    const std::uint64_t size = context.host->file_size(path);
    QZR_LOG_DEBUG(L"%ls: The file '%ls' is%s empty.", L"file", path, size != 0 ? L" not" : L"");
    return (size == 0) == *empty_;
}

void condition_basic_os::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    major_ = read_int32(node, L"major");
    minor_ = read_int32(node, L"minor");
    sp_ = read_int32(node, L"sp");
    build_ = read_int32(node, L"build");
}

void condition_basic_os::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"major", major_);
    write(node, L"minor", minor_);
    write(node, L"sp", sp_);
    write(node, L"build", build_);
}

bool condition_basic_os::check_version(const basic_context& context) const {
    const auto& os = context.host->os();
    return (!major_ || static_cast<std::int64_t>(os.major) == *major_) &&
           (!minor_ || static_cast<std::int64_t>(os.minor) == *minor_) &&
           (!sp_ || static_cast<std::int64_t>(os.sp_major) == *sp_) &&
           (!build_ || static_cast<std::int64_t>(os.build) == *build_);
}

int condition_basic_os::compare_version(const basic_context& context) const {
    const auto& os = context.host->os();
    const std::pair<std::int64_t, std::optional<std::int32_t>> fields[] = {
        {os.major, major_}, {os.minor, minor_}, {os.sp_major, sp_}, {os.build, build_}};
    for (const auto& [host, given] : fields) {
        if (!given) continue;
        if (host != *given) return sign(host - *given);
    }
    return 0;
}

void condition_os::load(const pugi::xml_node& node, const basic_context& context) {
    condition_basic_os::load(node, context);
    platform_ = read_string(node, L"platform");
    type_ = read_string(node, L"type");
}

void condition_os::save(pugi::xml_node node) const {
    condition_basic_os::save(node);
    write(node, L"platform", platform_);
    write(node, L"type", type_);
}

bool condition_os::evaluate(const basic_context& context) const {
    return check_version(context) && check_platform(context) && check_type(context);
}

bool condition_os::check_platform(const basic_context& context) const {
    if (!platform_) return true;
    const auto native = context.host->os().native_platform;
    for (const auto& w : words::platforms)
        if (w.fact == native) return utf::iequals(*platform_, w.text);
    throw exceptions::error("The executable is running under unknown OS platform!");
}

bool condition_os::check_type(const basic_context& context) const {
    if (!type_) return true;
    const auto type = context.host->os().product_type;
    for (const auto& w : words::product_types)
        if (w.fact == type) return utf::iequals(*type_, w.text);
    throw exceptions::error("The executable is running under unknown OS type!");
}

void condition_brand::load(const pugi::xml_node& node, const basic_context& context) {
    basic_condition::load(node, context);
    name_attr_ = read_string(node, L"name");
}

void condition_brand::save(pugi::xml_node node) const {
    basic_condition::save(node);
    write(node, L"name", name_attr_);
}

bool condition_brand::evaluate(const basic_context& context) const {
    if (!(name_attr_ && !name_attr_->empty())) assertion_failed("m_name && !m_name->empty()");
    const auto b = context.host->stub_brand();
    const wchar_t* word = nullptr;
    if (b)
        for (const auto& w : words::brands)
            if (w.fact == *b) word = w.text;
    if (!word) throw exceptions::error("The executable is running under unknown brand!");
    return utf::iequals(*name_attr_, word);
}

std::shared_ptr<basic_factory> make_condition_factory() {
    auto f = std::make_shared<basic_factory>();
    f->register_condition<condition_not>(L"not");
    f->register_condition<condition_and>(L"and");
    f->register_condition<condition_or>(L"or");
    f->register_condition<condition_boolean>(L"boolean");
    f->register_condition<condition_os>(L"os");
    f->register_condition<condition_os_at_least>(L"os-at-least");
    f->register_condition<condition_os_at_most>(L"os-at-most");
    f->register_condition<condition_file>(L"file");
    f->register_condition<condition_equals>(L"equals");
    f->register_condition<condition_less_than>(L"less-than");
    f->register_condition<condition_greater_than>(L"greater-than");
    f->register_condition<condition_starts_with>(L"starts-with");
    f->register_condition<condition_brand>(L"brand");
    return f;
}

}  // namespace qzr::repository::conditions
