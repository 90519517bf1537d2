// The run's protected temporary folder.
#pragma once

#include <memory>
#include <string>

namespace qzr::sfx {

class temp_dir_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // The folder exists when this returns; it is deleted with the object
        // when delete_on_destruction is true.
        virtual std::shared_ptr<temp_dir_intf> create(bool delete_on_destruction) const = 0;
    };

    virtual std::wstring path() const = 0;
    virtual ~temp_dir_intf() = default;
};

}  // namespace qzr::sfx
