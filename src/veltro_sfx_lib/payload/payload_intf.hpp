// The index of the payload appended to the stub's own executable.
#pragma once

#include <memory>
#include <string>

namespace qzr::sfx {

class veltro_info_intf;

class payload_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // Opens the payload of the executable at program_path and writes its
        // file list into the hand-over document.
        virtual std::shared_ptr<payload_intf> create(const std::wstring& program_path,
                                                     const std::shared_ptr<veltro_info_intf>& info) const = 0;
    };

    virtual ~payload_intf() = default;
    virtual std::size_t file_count() const = 0;
};

}  // namespace qzr::sfx
