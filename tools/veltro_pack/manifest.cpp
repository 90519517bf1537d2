#include "manifest.hpp"

#include <pugixml.hpp>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <system_error>

#include <toml++/toml.h>

#include "environment/os_info.hpp"
#include "framework/errors.hpp"
#include "framework/utf.hpp"
#include "repository/conditions/basic_condition.hpp"
#include "repository/conditions/condition_kinds.hpp"
#include "repository/conditions/host_facts.hpp"
#include "repository/light_expander.hpp"
#include "repository_layout.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::pack {

namespace {

namespace fs = std::filesystem;
namespace rc = repository::conditions;

class reader {
public:
    explicit reader(fs::path file) : file_(std::move(file)), base_(file_.parent_path()) {}

    [[noreturn]] void fail(const toml::source_region& at, const std::string& key, const std::string& what) const {
        std::string text = file_.string() + ":";
        if (at.begin.line) text += std::to_string(at.begin.line) + ":";
        text += " " + (key.empty() ? std::string() : key + ": ") + what;
        throw manifest_error(text);
    }

    // Every key of `table` must be one of `known`.
    void only(const toml::table& table, const std::string& prefix, std::initializer_list<const char*> known) const {
        for (const auto& [k, v] : table) {
            const bool ok = std::any_of(known.begin(), known.end(), [&](const char* n) { return k.str() == n; });
            if (!ok) fail(k.source(), join(prefix, std::string(k.str())), "unknown key");
        }
    }

    static std::string join(const std::string& prefix, const std::string& key) {
        return prefix.empty() ? key : prefix + "." + key;
    }

    const toml::table* table_at(const toml::table& parent, const char* key, const std::string& prefix) const {
        const toml::node* n = parent.get(key);
        if (!n) return nullptr;
        if (!n->is_table()) fail(n->source(), join(prefix, key), "must be a table");
        return n->as_table();
    }

    std::optional<std::string> text(const toml::table& t, const char* key, const std::string& prefix,
                                     bool required = false) const {
        const toml::node* n = t.get(key);
        if (!n) {
            if (required) fail(t.source(), join(prefix, key), "missing");
            return std::nullopt;
        }
        if (!n->is_string()) fail(n->source(), join(prefix, key), "must be a string");
        const std::string& v = n->as_string()->get();
        if (required && v.empty()) fail(n->source(), join(prefix, key), "must not be empty");
        if (v.find('\0') != std::string::npos) fail(n->source(), join(prefix, key), "must not hold a NUL character");
        return v;
    }

    std::optional<bool> flag(const toml::table& t, const char* key, const std::string& prefix) const {
        const toml::node* n = t.get(key);
        if (!n) return std::nullopt;
        if (!n->is_boolean()) fail(n->source(), join(prefix, key), "must be true or false");
        return n->as_boolean()->get();
    }

    std::optional<std::int64_t> number(const toml::table& t, const char* key, const std::string& prefix) const {
        const toml::node* n = t.get(key);
        if (!n) return std::nullopt;
        if (!n->is_integer()) fail(n->source(), join(prefix, key), "must be a whole number");
        return n->as_integer()->get();
    }

    // A path relative to the manifest's folder; `must_exist` asks for a
    // readable regular file.
    std::optional<fs::path> path(const toml::table& t, const char* key, const std::string& prefix,
                                 bool must_exist, bool required = false) const {
        const auto value = text(t, key, prefix, required);
        if (!value) return std::nullopt;
        if (value->empty()) fail(t.get(key)->source(), join(prefix, key), "must not be empty");
        const fs::path p = fs::path(*value).is_absolute() ? fs::path(*value) : base_ / *value;
        if (must_exist) {
            std::error_code ec;
            if (!fs::is_regular_file(p, ec))
                fail(t.get(key)->source(), join(prefix, key), "no such file: " + p.string());
        }
        return p.lexically_normal();
    }

    // The rule lists of an element: XML fragments read as the stub reads
    // them, so an unknown kind or a missing attribute shows here and not on
    // a user's machine.
    rules read_rules(const toml::table& t, const std::string& prefix) const {
        rules r;
        if (auto c = text(t, "conditions", prefix)) r.conditions = check_rules(t, "conditions", prefix, *c);
        if (auto c = text(t, "conditions2", prefix)) r.conditions2 = check_rules(t, "conditions2", prefix, *c);
        return r;
    }

    std::string check_rules(const toml::table& t, const char* key, const std::string& prefix,
                            const std::string& fragment) const {
        const auto& at = t.get(key)->source();
        const std::wstring wide = L"<" + utf::from_utf8(key) + L">" + utf::from_utf8(fragment) + L"</" +
                                  utf::from_utf8(key) + L">";
        pugi::xml_document doc;
        const auto parsed = doc.load_string(wide.c_str());
        if (!parsed)
            fail(at, join(prefix, key), std::string("not well-formed XML: ") + parsed.description());
        try {
            rc::basic_context context;
            context.factory = rc::make_condition_factory();
            context.expander = std::make_shared<repository::light_expander>();
            context.host = std::make_shared<sample_host>();
            check_children(doc.document_element(), context);
        } catch (const std::exception& e) {
            fail(at, join(prefix, key), e.what());
        }
        return fragment;
    }

    // A machine to try leaf rules on: what matters is only whether a rule
    // can be evaluated at all, not what it answers here.
    struct sample_host : rc::host_facts_intf {
        environment::os_record record = [] {
            environment::os_record r;
            r.major = 10;
            r.build = 19045;
            r.platform_id = 2;
            r.native_platform = environment::platform::x64;
            return r;
        }();
        const environment::os_record& os() const override { return record; }
        std::optional<rc::brand> stub_brand() const override { return rc::brand::kavro; }
        std::optional<std::uint32_t> file_attributes(const std::wstring&) const override { return std::nullopt; }
        bool device_exists(const std::wstring&) const override { return false; }
        std::uint64_t file_size(const std::wstring&) const override { return 0; }
    };

    // Stricter than the stub, which skips what it cannot read so that an
    // older stub still installs with rules it does not know: a name that is
    // not a rule, a rule missing what it needs, text among rules and a
    // container without its children are refused here, where they are
    // typing mistakes. An element marked `unsupported` stays allowed.
    static void check_children(const pugi::xml_node& parent, const rc::basic_context& context) {
        std::size_t count = 0;
        for (const pugi::xml_node child : parent.children()) {
            if (child.type() == pugi::node_comment) continue;
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
                std::string text = utf::to_utf8(child.value());
                text.erase(0, text.find_first_not_of(" \t\r\n"));
                text.erase(text.find_last_not_of(" \t\r\n") + 1);
                throw std::runtime_error("text '" + text + "' among the rules of '" + utf::to_utf8(parent.name()) + "'");
            }
            if (child.type() != pugi::node_element) continue;
            ++count;
            const std::wstring name = child.name();
            std::unique_ptr<rc::basic_condition> condition;
            try {
                condition = context.factory->create(name);
            } catch (const exceptions::error&) {
                if (child.attribute(L"unsupported")) continue;
                throw;
            }
            const std::wstring plain = name.rfind(L"not-", 0) == 0 ? name.substr(4) : name;
            check_values(child, plain);
            condition->load(child, context);
            if (plain == L"and" || plain == L"or" || plain == L"not") {
                check_children(child, context);
                continue;
            }
            // What a rule reads, it writes back: an attribute it does not
            // write back was never read (a misspelt name would make the rule
            // hold everywhere).
            pugi::xml_document written;
            pugi::xml_node copy = written.append_child(L"rule");
            condition->save(copy);
            for (const pugi::xml_attribute a : child.attributes())
                if (std::wstring_view(a.name()) != L"unsupported" && !copy.attribute(a.name()))
                    throw std::runtime_error(utf::to_utf8(name) + ": unknown attribute '" + utf::to_utf8(a.name()) + "'");
            try {
                condition->evaluate(context);
            } catch (const exceptions::error& e) {
                if (e.code() != exceptions::invalid_parameter_code) continue;  // a fact of this machine
                const std::string text = e.what(), element = utf::to_utf8(name);
                throw std::runtime_error(text.rfind(element + ":", 0) == 0 ? text : element + ": " + text);
            }
        }
        const std::wstring name = parent.name();
        const std::wstring plain = name.rfind(L"not-", 0) == 0 ? name.substr(4) : name;
        if ((plain == L"and" || plain == L"or") && count == 0)
            throw std::runtime_error(utf::to_utf8(name) + " holds no rule");
        if (plain == L"not" && count != 1) throw std::runtime_error(utf::to_utf8(name) + " must hold exactly one rule");
    }

    // What a rule reads from an attribute, when it is more than text.
    enum class value { number, boolean, platform, product_type, file_type, compare_type, brand };

    static std::optional<value> value_of(std::wstring_view rule, std::wstring_view attribute) {
        const bool os = rule == L"os" || rule == L"os-at-least" || rule == L"os-at-most";
        if (os && (attribute == L"major" || attribute == L"minor" || attribute == L"sp" || attribute == L"build"))
            return value::number;
        if ((rule == L"boolean" && attribute == L"value") ||
            (rule == L"file" && (attribute == L"exists" || attribute == L"empty")))
            return value::boolean;
        if (rule == L"os" && attribute == L"platform") return value::platform;
        if (rule == L"os" && attribute == L"type") return value::product_type;
        if (rule == L"file" && attribute == L"type") return value::file_type;
        if ((rule == L"equals" || rule == L"less-than" || rule == L"greater-than") && attribute == L"type")
            return value::compare_type;
        if (rule == L"brand" && attribute == L"name") return value::brand;
        return std::nullopt;
    }

    // The words of a table, each once: "x86, x64, arm64".
    template <class Table>
    static std::string listed(const Table& table) {
        std::vector<std::wstring> seen;
        std::string text;
        for (const auto& w : table) {
            if (std::find(seen.begin(), seen.end(), w.text) != seen.end()) continue;
            seen.emplace_back(w.text);
            text += (text.empty() ? "" : ", ") + utf::to_utf8(w.text);
        }
        return text;
    }

    template <class Table>
    static bool known(const Table& table, const std::wstring& text) {
        return std::any_of(std::begin(table), std::end(table),
                           [&](const auto& w) { return utf::iequals(text, w.text); });
    }

    // Why the stub would not read an attribute's value as written, or "".
    static std::string value_problem(const pugi::xml_node& node, const pugi::xml_attribute& a, value kind) {
        const std::wstring text = a.value();
        switch (kind) {
            case value::number:
                try {
                    if (!rc::attributes::read_int32(node, a.name())) return "not a number";
                } catch (const rc::narrowing_error&) {
                    return "out of range (-2147483648 to 2147483647)";
                }
                return "";
            case value::boolean:
                return rc::attributes::read_bool(node, a.name()) ? "" : "must be true or false";
            case value::platform:
                return known(rc::words::platforms, text)
                           ? ""
                           : "not a platform the stub knows (" + listed(rc::words::platforms) + ")";
            case value::product_type:
                return known(rc::words::product_types, text)
                           ? ""
                           : "not an OS type the stub knows (" + listed(rc::words::product_types) + ")";
            case value::file_type:
                return utf::iequals(text, rc::words::file_type) || utf::iequals(text, rc::words::device_type)
                           ? ""
                           : "not a type the stub knows (" + utf::to_utf8(rc::words::file_type) + ", " +
                                 utf::to_utf8(rc::words::device_type) + ")";
            case value::compare_type:
                return utf::iequals(text, rc::words::version_type)
                           ? ""
                           : "not a type the stub knows (only " + utf::to_utf8(rc::words::version_type) +
                                 "; without type, numbers compare as numbers and the rest as text)";
            case value::brand:
                return known(rc::words::brands, text)
                           ? ""
                           : "not a brand a rule can name (" + listed(rc::words::brands) + ")";
        }
        return "";
    }

    // Every value a rule reads, read as the stub reads it: a number it cannot
    // read or a word it does not know would quietly make the rule fail or
    // hold nowhere on every machine.
    static void check_values(const pugi::xml_node& node, const std::wstring& rule) {
        const auto fail = [&](const pugi::xml_attribute& a, const std::string& why) {
            throw std::runtime_error(utf::to_utf8(node.name()) + ": " + utf::to_utf8(a.name()) + "=\"" +
                                     utf::to_utf8(a.value()) + "\": " + why);
        };
        for (const pugi::xml_attribute a : node.attributes())
            if (const auto kind = value_of(rule, a.name()))
                if (const std::string why = value_problem(node, a, *kind); !why.empty()) fail(a, why);
        // Versions are compared part by part; a variable is only known on
        // the user's machine.
        const pugi::xml_attribute type = node.attribute(L"type");
        if (value_of(rule, L"type") != value::compare_type || !type ||
            !utf::iequals(type.value(), rc::words::version_type))
            return;
        for (const wchar_t* side : {L"left", L"right"}) {
            const pugi::xml_attribute a = node.attribute(side);
            const std::wstring_view text = a.value();
            const bool variable = text.size() >= 2 && text.front() == L'%' && text.back() == L'%';
            if (a && !variable && !rc::attributes::is_plain_version(text))
                fail(a, "not a version (one to four numbers of 0 to 65535, separated by dots)");
        }
    }

    carriage read_carriage(const toml::table& t, const std::string& prefix) const {
        const auto v = text(t, "payload", prefix);
        if (!v || *v == "lzma") return carriage::lzma;
        if (*v == "stored") return carriage::stored;
        if (*v == "none") return carriage::none;
        fail(t.get("payload")->source(), join(prefix, "payload"), "must be \"lzma\", \"stored\" or \"none\"");
    }

    const fs::path& file() const { return file_; }

private:
    fs::path file_;
    fs::path base_;
};

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

void read_files(const reader& r, const toml::table& root, manifest& m) {
    const toml::node* groups = root.get("setup-files");
    if (!groups) r.fail(root.source(), "setup-files", "missing: an installer needs at least one setup file");
    if (!groups->is_array_of_tables()) r.fail(groups->source(), "setup-files", "must be an array of tables ([[setup-files]])");
    std::size_t g = 0;
    for (const toml::node& group_node : *groups->as_array()) {
        const auto& group = *group_node.as_table();
        const std::string gkey = "setup-files[" + std::to_string(++g) + "]";
        r.only(group, gkey, {"conditions", "conditions2", "file"});
        setup_group out;
        out.when = r.read_rules(group, gkey);
        const toml::node* files = group.get("file");
        if (!files) r.fail(group.source(), gkey + ".file", "missing: a group needs at least one file");
        if (!files->is_array_of_tables()) r.fail(files->source(), gkey + ".file", "must be an array of tables");
        std::size_t f = 0;
        for (const toml::node& file_node : *files->as_array()) {
            const auto& file = *file_node.as_table();
            const std::string fkey = gkey + ".file[" + std::to_string(++f) + "]";
            r.only(file, fkey, {"name", "source", "payload", "conditions", "conditions2"});
            setup_file sf;
            sf.key = fkey;
            sf.source = *r.path(file, "source", fkey, true, true);
            sf.name = r.text(file, "name", fkey).value_or(sf.source.filename().string());
            if (sf.name.empty() || sf.name.find_first_of("/\\:*?\"<>|") != std::string::npos || sf.name == "." ||
                sf.name == "..")
                r.fail(file.get("name") ? file.get("name")->source() : file.source(), fkey + ".name",
                       "must be a plain file name");
            for (const auto& earlier : out.files)
                if (same_name(earlier.name, sf.name))
                    r.fail(file.source(), fkey, "'" + sf.name + "' is listed twice in this group (first as " +
                                                    earlier.key + ")");
            sf.payload = r.read_carriage(file, fkey);
            if (sf.payload == carriage::none && m.base_url.empty())
                r.fail(file.get("payload")->source(), fkey + ".payload",
                       "\"none\" needs [repository] base-url: the stub downloads this file");
            sf.when = r.read_rules(file, fkey);
            out.files.push_back(std::move(sf));
        }
        m.groups.push_back(std::move(out));
    }
}

void read_commands(const reader& r, const toml::table& root, manifest& m) {
    const toml::node* commands = root.get("setup-commands");
    if (!commands) return;
    if (!commands->is_array_of_tables())
        r.fail(commands->source(), "setup-commands", "must be an array of tables ([[setup-commands]])");
    std::size_t c = 0;
    for (const toml::node& node : *commands->as_array()) {
        const auto& t = *node.as_table();
        const std::string key = "setup-commands[" + std::to_string(++c) + "]";
        r.only(t, key, {"executable", "arguments", "sfx", "conditions", "conditions2"});
        setup_command sc;
        sc.executable = r.text(t, "executable", key).value_or(sc.executable);
        sc.arguments = r.text(t, "arguments", key).value_or("");
        if (const auto* sfx = r.table_at(t, "sfx", key)) {
            r.only(*sfx, key + ".sfx", {"executable", "arguments"});
            sc.sfx_executable = r.text(*sfx, "executable", key + ".sfx");
            sc.sfx_arguments = r.text(*sfx, "arguments", key + ".sfx");
        }
        sc.when = r.read_rules(t, key);
        m.commands.push_back(std::move(sc));
    }
}

// Some setup file must be the master the commands name (or "veltro.exe"
// without commands): otherwise the stub would have nothing to start.
void check_master(const reader& r, const toml::table& root, const manifest& m) {
    std::vector<std::string> masters;
    if (m.commands.empty()) masters.push_back("veltro.exe");
    for (const auto& c : m.commands) masters.push_back(c.sfx_executable.value_or(c.executable));
    for (const auto& master : masters) {
        bool found = false;
        for (const auto& g : m.groups)
            for (const auto& f : g.files) found = found || same_name(f.name, master);
        if (!found) {
            const toml::node* at = root.get("setup-commands");
            r.fail(at ? at->source() : root.get("setup-files")->source(), at ? "setup-commands" : "setup-files",
                   "no setup file is named '" + master + "', the setup master to start");
        }
    }
}

}  // namespace

manifest read_manifest(const fs::path& file) {
    const reader r(file);
    toml::table root;
    try {
        root = toml::parse_file(file.string());
    } catch (const toml::parse_error& e) {
        r.fail(e.source(), "", std::string(e.description()));
    }
    r.only(root, "", {"product", "titles", "params", "repository", "report", "installer", "setup-files",
                      "setup-commands"});
    manifest m;
    m.file = file;

    const toml::table* product = r.table_at(root, "product", "");
    if (!product) r.fail(root.source(), "product", "missing");
    r.only(*product, "product", {"name", "channel", "version"});
    m.product = *r.text(*product, "name", "product", true);
    m.channel = *r.text(*product, "channel", "product", true);
    m.version = *r.text(*product, "version", "product", true);
    // The stub puts the name and the channel into repository URLs as they
    // are, and the version too under /noupdate.
    for (const auto& [key, text] : {std::pair{"name", &m.product}, {"channel", &m.channel}})
        if (const std::string why = repo::name_problem(*text); !why.empty())
            r.fail(product->get(key)->source(), std::string("product.") + key, "\"" + *text + "\" " + why);
    if (std::count(m.version.begin(), m.version.end(), '.') != 3 ||
        !rc::attributes::is_plain_version(utf::from_utf8(m.version)))
        r.fail(product->get("version")->source(), "product.version",
               "\"" + m.version + "\" is not four numbers of 0 to 65535 separated by dots, such as 2.1.0.7");

    if (const auto* titles = r.table_at(root, "titles", "")) {
        for (const auto& [k, v] : *titles) {
            const std::string culture(k.str());
            if (!sfx::language_of(utf::from_utf8(culture)))
                r.fail(k.source(), "titles." + culture, "not a language the stub knows (use a culture name such as en-us)");
            if (!v.is_string()) r.fail(v.source(), "titles." + culture, "must be a string");
            m.titles.emplace_back(culture, v.as_string()->get());
        }
    }
    if (const auto* params = r.table_at(root, "params", "")) {
        r.only(*params, "params", {"silent", "nosplash", "clear"});
        m.silent = r.flag(*params, "silent", "params").value_or(false);
        m.nosplash = r.flag(*params, "nosplash", "params").value_or(false);
        m.clear = r.flag(*params, "clear", "params").value_or(false);
    }
    if (const auto* repository = r.table_at(root, "repository", "")) {
        r.only(*repository, "repository", {"base-url", "module", "publish", "pinned"});
        m.base_url = r.text(*repository, "base-url", "repository").value_or("");
        m.module = r.path(*repository, "module", "repository", true).value_or(fs::path());
        m.publish = r.path(*repository, "publish", "repository", false).value_or(fs::path());
        m.pinned = r.flag(*repository, "pinned", "repository").value_or(false);
    }
    if (const auto* report = r.table_at(root, "report", "")) {
        r.only(*report, "report", {"url"});
        m.report_url = r.text(*report, "url", "report").value_or("");
    }
    if (const auto* installer = r.table_at(root, "installer", "")) {
        r.only(*installer, "installer", {"stub", "output", "file", "key", "signature-version", "timestamp"});
        m.stub = r.path(*installer, "stub", "installer", true).value_or(fs::path());
        m.output = r.path(*installer, "output", "installer", false).value_or(fs::path());
        m.installer_name = r.text(*installer, "file", "installer").value_or("");
        m.key = r.path(*installer, "key", "installer", true).value_or(fs::path());
        if (const auto v = r.number(*installer, "signature-version", "installer")) {
            if (*v != 2 && *v != 3)
                r.fail(installer->get("signature-version")->source(), "installer.signature-version", "must be 2 or 3");
            m.signature_version = static_cast<int>(*v);
        }
        if (const auto v = r.number(*installer, "timestamp", "installer")) {
            if (*v < 0) r.fail(installer->get("timestamp")->source(), "installer.timestamp", "must not be negative");
            m.timestamp = static_cast<std::uint64_t>(*v);
        }
        if (m.installer_name.find_first_of("/\\") != std::string::npos)
            r.fail(installer->get("file")->source(), "installer.file", "must be a plain file name");
    }
    if (m.installer_name.empty()) m.installer_name = m.product + "_setup.exe";
    if (m.output.empty()) m.output = (file.parent_path() / "out").lexically_normal();

    read_files(r, root, m);
    read_commands(r, root, m);
    check_master(r, root, m);
    return m;
}

}  // namespace qzr::pack
