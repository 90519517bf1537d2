// Turning the setup descriptions into a ready product folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qzr::sfx {

struct sfx_data_holder;

class prepare_setup_intf {
public:
    using show_splash_callback = std::function<void(const std::wstring& title)>;
    using progress_callback = std::function<void(std::uint8_t percent)>;

    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<prepare_setup_intf> create(const sfx_data_holder& context) const = 0;
    };

    virtual ~prepare_setup_intf() = default;
    // Places every applicable file and yields the setup master's command line
    // (program path first) in master_command_line.
    virtual void prepare(std::wstring& master_command_line, const show_splash_callback& show_splash,
                         const progress_callback& progress) = 0;
};

}  // namespace qzr::sfx
