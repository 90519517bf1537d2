// product-info.xml: which files a product's setup needs on this machine,
// which setup command applies, and whether there is an ARM64 setup master.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "repository/conditions/basic_condition.hpp"
#include "veltro_sfx_lib/run/sfx_data_holder.hpp"

namespace qzr::sfx {

class product_info_parser_intf {
public:
    struct file_info {
        std::wstring name;
        std::wstring sha256;
        std::int64_t timestamp = 0;
        std::int64_t size = 0;
    };
    struct product_info {
        std::wstring name;
        std::wstring version;
        bool arm64 = false;
    };
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<product_info_parser_intf> create(const sfx_data_holder& context) const = 0;
    };

    virtual void parse_data(const std::vector<std::uint8_t>& data) = 0;
    virtual const product_info& get_product_info() const = 0;
    virtual const std::vector<file_info>& get_setup_files() const = 0;
    // The first applicable setup-commands element, or a null node.
    virtual pugi::xml_node get_setup_commands() const = 0;
    virtual void save(const std::wstring& path) const = 0;
    virtual ~product_info_parser_intf() = default;
    virtual std::unique_ptr<repository::conditions::basic_context> create_context() const = 0;
};

class product_info_parser final : public product_info_parser_intf {
public:
    struct factory : product_info_parser_intf::factory {
        explicit factory(std::shared_ptr<const repository::conditions::host_facts_intf> host) : host_(std::move(host)) {}
        std::shared_ptr<product_info_parser_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<product_info_parser>(context, host_);
        }

    private:
        std::shared_ptr<const repository::conditions::host_facts_intf> host_;
    };

    // host: the machine the conditions ask about.
    product_info_parser(const sfx_data_holder& context,
                        std::shared_ptr<const repository::conditions::host_facts_intf> host);

    void parse_data(const std::vector<std::uint8_t>& data) override;
    const product_info& get_product_info() const override { return product_; }
    const std::vector<file_info>& get_setup_files() const override { return files_; }
    pugi::xml_node get_setup_commands() const override;
    void save(const std::wstring& path) const override;
    std::unique_ptr<repository::conditions::basic_context> create_context() const override;

    // Whether an element applies: its "conditions", then "conditions2".
    bool check_conditions(const pugi::xml_node& node) const { return judge(node).applies; }

    // The same, with the rule that decided, for the log.
    struct judgement {
        bool applies = false;
        std::wstring rule;
    };
    judgement judge(const pugi::xml_node& node) const;

private:
    const sfx_data_holder& context_;
    std::shared_ptr<const repository::conditions::host_facts_intf> host_;
    pugi::xml_document doc_;
    std::vector<file_info> files_;
    product_info product_;
    std::vector<std::uint8_t> raw_;
    // The decision last logged per setup-commands element: it is asked for
    // each placed file, and logged again only when it changes.
    mutable std::vector<std::wstring> commands_logged_;
};

}  // namespace qzr::sfx
