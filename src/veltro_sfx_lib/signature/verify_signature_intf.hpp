// Checking DSA signatures of files and documents.
#pragma once

#include <memory>
#include <string>

namespace qzr::sfx {

class verify_signature_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<verify_signature_intf> create() const = 0;
    };

    virtual ~verify_signature_intf() = default;
    // Whether the file carries a valid whole-file signature under the
    // default key set.
    virtual bool verify_file(const std::wstring& path) = 0;
};

}  // namespace qzr::sfx
