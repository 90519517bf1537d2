// The setup master's command line, chosen while the setup files are placed:
// the file whose name matches the selected executable becomes the program.
#pragma once

#include <memory>
#include <string>

#include <pugixml.hpp>

#include "veltro_sfx_lib/run/sfx_data_holder.hpp"

namespace qzr::sfx {

class master_setup_evaluator_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<master_setup_evaluator_intf> create(const sfx_data_holder& context) const = 0;
    };

    // For each placed setup file: when file_name is the executable named by
    // setup_commands (or its sfx child), the command line becomes folder +
    // executable [+ " " + arguments].
    virtual void evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                          const std::wstring& folder) = 0;
    virtual std::wstring get_command() const = 0;
    virtual ~master_setup_evaluator_intf() = default;
};

class master_setup_evaluator final : public master_setup_evaluator_intf, public sfx_data_holder {
public:
    struct factory : master_setup_evaluator_intf::factory {
        std::shared_ptr<master_setup_evaluator_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<master_setup_evaluator>(context);
        }
    };

    explicit master_setup_evaluator(const sfx_data_holder& context) : sfx_data_holder(context) {}

    void evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                  const std::wstring& folder) override;
    std::wstring get_command() const override { return command_; }

private:
    std::wstring command_;
};

}  // namespace qzr::sfx
