// A payload held in memory for tests of the components that read one:
// named entries by alias, unnamed ones by digest text.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"

namespace qzr::test {

struct memory_payload : sfx::payload_intf {
    std::map<std::wstring, std::string> entries;  // by alias
    std::map<std::wstring, std::string> by_sha;   // unnamed entries by digest text
    // What unpack_to_file does with (target, content); nothing by default.
    std::function<void(const std::wstring&, const std::string&)> on_unpack;

    struct unpacker : sfx::unpacker_intf {
        std::string data;
        std::function<void(const std::wstring&, const std::string&)> on_unpack;
        sfx::file_hold unpack_to_file(const std::wstring& target) override {
            if (on_unpack) on_unpack(target, data);
            return nullptr;
        }
        std::vector<std::uint8_t> unpack_data() override { return {data.begin(), data.end()}; }
    };

    byte_source& image() override { return empty; }
    view_source empty{byte_view()};
    void load(sfx::veltro_info_intf&) override {}
    std::shared_ptr<sfx::unpacker_intf> find_by_sha(const std::wstring& sha) override { return find(by_sha, sha); }
    std::shared_ptr<sfx::unpacker_intf> find_by_alias(const std::wstring& alias) override {
        return find(entries, alias);
    }
    std::vector<std::wstring> aliases() const override {
        std::vector<std::wstring> names;
        for (const auto& [alias, data] : entries) names.push_back(alias);
        return names;
    }

private:
    std::shared_ptr<sfx::unpacker_intf> find(const std::map<std::wstring, std::string>& from,
                                             const std::wstring& key) const {
        const auto it = from.find(key);
        if (it == from.end()) return nullptr;
        auto u = std::make_shared<unpacker>();
        u->data = it->second;
        u->on_unpack = on_unpack;
        return u;
    }
};

}  // namespace qzr::test
