// Fuzz driver for the condition loader and factory: the document element of
// any XML text is loaded as a conditions element and evaluated on a stated
// machine, then saved and loaded again, which must not change its result.
// Seeds: conditions of the tests' documents (make_seeds). Loading raises
// nothing but narrowing_error (documented: a number outside 32 bits), and
// evaluation raises the project's errors only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include <pugixml.hpp>

#include "framework/errors.hpp"
#include "fuzz_support.hpp"
#include "repository/conditions/condition_kinds.hpp"
#include "repository/light_expander.hpp"

using namespace qzr;
using namespace qzr::repository;
using namespace qzr::repository::conditions;

namespace {

// The result, or nothing when evaluation raised.
std::optional<bool> evaluate(const condition_root& root, const basic_context& context) {
    try {
        return root.evaluate(context);
    } catch (const exceptions::error&) {
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::log_everything();
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size, pugi::parse_default | pugi::parse_comments)) return 0;

    basic_context context;
    context.factory = make_condition_factory();
    auto expander = std::make_shared<light_expander>();
    expander->set(L"%VELTRO_IS_SFX%", L"1");
    expander->set(L"%VELTRO_IS_SILENT%", L"0");
    context.expander = expander;
    context.host = std::make_shared<fuzz::fixed_host>();

    condition_root root;
    try {
        root.load(doc.document_element(), context);
    } catch (const narrowing_error&) {
        return 0;
    }
    const std::optional<bool> result = evaluate(root, context);

    pugi::xml_document saved;
    root.save(saved.append_child(L"conditions"));
    condition_root again;
    again.load(saved.document_element(), context);
    if (evaluate(again, context) != result) std::abort();
    return 0;
}
