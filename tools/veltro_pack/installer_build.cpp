#include "installer_build.hpp"

#include <pugixml.hpp>

#include <map>
#include <stdexcept>

#include "cli_support.hpp"
#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/sha256.hpp"
#include "framework/utf.hpp"
#include "payload_writer.hpp"
#include "repository_publisher.hpp"

namespace qzr::pack {

namespace {

namespace fs = std::filesystem;

struct loaded {
    std::vector<std::uint8_t> content;
    std::string sha256;  // lower-case hex
    std::uint64_t timestamp = 0;
};

// Every source once, read whole: its digest decides where it lives.
std::map<fs::path, loaded> load_sources(const manifest& m, const build_options& options) {
    std::map<fs::path, loaded> out;
    const auto fixed = m.timestamp ? m.timestamp : options.timestamp;
    for (const auto& g : m.groups)
        for (const auto& f : g.files) {
            if (out.count(f.source)) continue;
            loaded l;
            l.content = read_file(f.source.string());
            const auto digest = root::sha256::of(l.content);
            l.sha256 = hex::encode(digest);
            l.timestamp = fixed ? *fixed : modification_time(f.source.string());
            out.emplace(f.source, std::move(l));
        }
    return out;
}

std::wstring w(const std::string& utf8) { return utf::from_utf8(utf8); }

void add_text(pugi::xml_node parent, const wchar_t* name, const std::wstring& text) {
    parent.append_child(name).text().set(text.c_str());
}

// The fragments were read as well-formed when the manifest was checked.
void add_rules(pugi::xml_node parent, const rules& r) {
    for (const auto& [name, fragment] : {std::pair{L"conditions", &r.conditions}, {L"conditions2", &r.conditions2}}) {
        if (fragment->empty()) continue;
        pugi::xml_document doc;
        const std::wstring wrapped = std::wstring(L"<") + name + L">" + w(*fragment) + L"</" + name + L">";
        if (!doc.load_string(wrapped.c_str())) throw std::logic_error("rules not well-formed");
        parent.append_copy(doc.document_element());
    }
}

struct string_writer : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
};

std::string to_text(const pugi::xml_document& doc) {
    string_writer out;
    doc.save(out, L"  ", pugi::format_default, pugi::encoding_utf8);
    return out.text;
}

pugi::xml_node start(pugi::xml_document& doc, const wchar_t* root) {
    auto decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute(L"version").set_value(L"1.0");
    decl.append_attribute(L"encoding").set_value(L"utf-8");
    return doc.append_child(root);
}

std::string product_info(const manifest& m, const std::map<fs::path, loaded>& sources) {
    pugi::xml_document doc;
    auto root = start(doc, L"product-info");
    add_text(root, L"name", w(m.product));
    add_text(root, L"version", w(m.version));
    for (const auto& g : m.groups) {
        auto group = root.append_child(L"setup-files");
        add_rules(group, g.when);
        for (const auto& f : g.files) {
            const loaded& l = sources.at(f.source);
            auto file = group.append_child(L"file");
            add_text(file, L"name", w(f.name));
            add_text(file, L"sha-256", w(l.sha256));
            add_text(file, L"timestamp", std::to_wstring(l.timestamp));
            add_text(file, L"size", std::to_wstring(l.content.size()));
            add_rules(file, f.when);
        }
    }
    for (const auto& c : m.commands) {
        auto commands = root.append_child(L"setup-commands");
        commands.append_attribute(L"executable").set_value(w(c.executable).c_str());
        if (!c.arguments.empty()) commands.append_attribute(L"arguments").set_value(w(c.arguments).c_str());
        if (c.sfx_executable || c.sfx_arguments) {
            auto sfx = commands.append_child(L"sfx");
            if (c.sfx_executable) sfx.append_attribute(L"executable").set_value(w(*c.sfx_executable).c_str());
            if (c.sfx_arguments) sfx.append_attribute(L"arguments").set_value(w(*c.sfx_arguments).c_str());
        }
        add_rules(commands, c.when);
    }
    return to_text(doc);
}

std::string sfx_info(const manifest& m) {
    pugi::xml_document doc;
    auto root = start(doc, L"sfx-info");
    auto product = root.append_child(L"products").append_child(L"product");
    product.append_attribute(L"name").set_value(w(m.product).c_str());
    product.append_attribute(L"channel").set_value(w(m.channel).c_str());
    product.append_attribute(L"version").set_value(w(m.version).c_str());
    if (!m.base_url.empty()) add_text(root.append_child(L"repository"), L"base-url", w(m.base_url));
    if (!m.report_url.empty()) add_text(root.append_child(L"report"), L"url", w(m.report_url));
    if (m.silent || m.nosplash || m.clear) {
        auto params = root.append_child(L"params");
        if (m.silent) add_text(params, L"silent", L"true");
        if (m.nosplash) add_text(params, L"nosplash", L"true");
        if (m.clear) add_text(params, L"clear", L"true");
    }
    for (const auto& [culture, title] : m.titles) {
        auto t = root.append_child(L"title");
        t.append_attribute(L"lang").set_value(w(culture).c_str());
        t.text().set(w(title).c_str());
    }
    return to_text(doc);
}

fs::path stub_of(const manifest& m, const build_options& options) {
    if (options.stub) return *options.stub;
    if (m.stub.empty())
        throw std::runtime_error(m.file.string() + ": no stub: set [installer] stub or give --stub");
    return m.stub;
}

// The bare stub: nothing may follow its last section, where the payload goes.
std::vector<std::uint8_t> read_stub(const manifest& m, const build_options& options) {
    const fs::path stub = stub_of(m, options);
    std::vector<std::uint8_t> image = read_file(stub.string());
    const std::uint64_t end = image_end(image);
    if (end != image.size())
        throw std::runtime_error(stub.string() + ": " + std::to_string(image.size() - end) +
                                 " bytes follow the last section (not a bare stub)");
    return image;
}

fs::path repository_of(const manifest& m, const build_options& options) {
    const fs::path repository = options.no_publish ? fs::path() : options.publish.value_or(m.publish);
    if (!repository.empty() && m.base_url.empty())
        throw std::runtime_error(m.file.string() + ": publishing a repository needs [repository] base-url");
    return repository;
}

repo::publish_request publish_request_of(const manifest& m, const build_options& options, const fs::path& repository,
                                         const fs::path& document, const digest_signer& sign) {
    repo::publish_request request;
    request.out = repository;
    request.product = m.product;
    request.channel = m.channel;
    request.product_info = document.string();
    request.module = m.module.string();
    for (const auto& g : m.groups)
        for (const auto& f : g.files) request.files.push_back(f.source.string());
    request.sign = sign;
    request.version = m.signature_version;
    request.timestamp = m.timestamp ? m.timestamp : options.timestamp;
    request.pinned = m.pinned;
    return request;
}

// A scratch folder removed with everything in it when the build ends.
struct scratch {
    fs::path dir;
    scratch() {
        std::string pattern = (fs::temp_directory_path() / "veltro-build-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch folder");
        dir = pattern;
    }
    ~scratch() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

}  // namespace

built_installer make_installer(const manifest& m, const build_options& options, const digest_signer& sign) {
    if (options.web && m.base_url.empty())
        throw std::runtime_error(m.file.string() + ": a web installer needs [repository] base-url");
    const auto sources = load_sources(m, options);
    built_installer out;
    out.product_info = product_info(m, sources);
    append_text_signature(out.product_info, m.signature_version, sign);
    out.sfx_info = sfx_info(m);
    append_text_signature(out.sfx_info, m.signature_version, sign);

    out.image = read_stub(m, options);
    const std::uint64_t now = m.timestamp ? *m.timestamp : options.timestamp.value_or(0);
    const auto document_entry = [&](const std::string& alias, const std::string& text) {
        entry_header h;
        h.alias = alias;
        h.timestamp = now;
        const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const auto digest = root::sha256::of(data);
        std::copy(digest.begin(), digest.end(), h.sha256);
        append_entry(out.image, h, data);
    };
    document_entry("sfx-info.xml", out.sfx_info);
    document_entry(m.product + "/" + m.channel + ".xml", out.product_info);

    // Each content once, however many names and groups it has: the stub
    // finds payload files by digest.
    std::map<std::string, carriage> carried;
    std::vector<const fs::path*> order;
    for (const auto& g : m.groups)
        for (const auto& f : g.files) {
            if (f.payload == carriage::none || options.web) continue;
            const auto& sha = sources.at(f.source).sha256;
            auto [it, added] = carried.emplace(sha, f.payload);
            if (added) order.push_back(&f.source);
            else if (f.payload == carriage::lzma) it->second = carriage::lzma;
        }
    for (const fs::path* source : order) {
        const loaded& l = sources.at(*source);
        entry_header h;
        h.timestamp = l.timestamp;
        const auto digest = root::sha256::of(l.content);
        std::copy(digest.begin(), digest.end(), h.sha256);
        if (carried.at(l.sha256) == carriage::lzma) {
            h.flags = 1;
            append_entry(out.image, h, packers::lzma_encode(l.content, 9));
        } else {
            append_entry(out.image, h, l.content);
        }
    }
    out.payload_files = order.size();
    append_end_entry(out.image);
    append_binary_signature(out.image, m.signature_version, sign, true);
    return out;
}

void check_build(const manifest& m, const build_options& options, const digest_signer& sign) {
    if (options.web && m.base_url.empty())
        throw std::runtime_error(m.file.string() + ": a web installer needs [repository] base-url");
    const fs::path repository = repository_of(m, options);
    read_stub(m, options);
    if (repository.empty()) return;
    // What publishing refuses, asked of the publisher itself with the
    // document the build would publish.
    std::string document = product_info(m, load_sources(m, options));
    append_text_signature(document, m.signature_version, sign);
    scratch temp;
    const fs::path path = temp.dir / "product-info.xml";
    write_file(path.string(), std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size()));
    auto request = publish_request_of(m, options, repository, path, sign);
    request.check_only = true;
    repo::publish(request);
}

build_report build(const manifest& m, const build_options& options, const digest_signer& sign) {
    const built_installer made = make_installer(m, options, sign);
    build_report report;
    const fs::path output = options.output.value_or(m.output);
    report.installer = output / m.installer_name;
    report.sfx_info = output / "sfx-info.xml";
    report.product_info = output / "product-info.xml";
    report.payload_files = made.payload_files;
    report.image_size = made.image.size();

    const fs::path repository = repository_of(m, options);
    if (!repository.empty()) {
        scratch temp;
        const fs::path document = temp.dir / "product-info.xml";
        write_file(document.string(), std::span(reinterpret_cast<const std::uint8_t*>(made.product_info.data()),
                                                made.product_info.size()));
        const auto result = repo::publish(publish_request_of(m, options, repository, document, sign));
        report.repository = repository;
        report.published = result.written;
    }

    std::error_code ec;
    fs::create_directories(output, ec);
    if (ec) throw std::runtime_error("cannot create " + output.string() + ": " + ec.message());
    const auto as_bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    write_file(report.sfx_info.string(), as_bytes(made.sfx_info));
    write_file(report.product_info.string(), as_bytes(made.product_info));
    write_file(report.installer.string(), made.image);
    return report;
}

}  // namespace qzr::pack
