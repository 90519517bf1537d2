// Looking up the texts users see. Identifiers that are not in the string
// table (and plain texts) come back unchanged; "{0}", "{1}", ... markers are
// replaced by the arguments in order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qzr::sfx {

class sfx_translator_intf {
public:
    virtual std::wstring translate(const std::wstring& id, const std::vector<std::wstring>& args) const = 0;
    virtual std::wstring translate(const std::wstring& id) const = 0;
    virtual ~sfx_translator_intf() = default;
};

// Replaces every "{i}" by args[i], one argument after another, scanning left
// to right and continuing after each inserted text.
std::wstring replace_arguments(std::wstring text, const std::vector<std::wstring>& args);

// Until the compressed string table is carried as a resource, texts are the
// identifiers themselves.
class sfx_translator final : public sfx_translator_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_translator_intf> create(std::int32_t language) const {
            return std::make_shared<sfx_translator>(language);
        }
    };

    explicit sfx_translator(std::int32_t language) noexcept : language_(language) {}

    std::wstring translate(const std::wstring& id, const std::vector<std::wstring>& args) const override;
    std::wstring translate(const std::wstring& id) const override;
    std::int32_t language() const noexcept { return language_; }

private:
    std::int32_t language_;
};

}  // namespace qzr::sfx
