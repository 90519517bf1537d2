// The hand-over document veltro-info.xml: everything the setup master needs
// from this run, saved once before it starts.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <pugixml.hpp>

namespace qzr::sfx {

class veltro_info_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<veltro_info_intf> create() const = 0;
    };

    virtual ~veltro_info_intf() = default;
    // Appends a copy of the node as the last child of the root element.
    virtual void add_node(const pugi::xml_node& node) = 0;
    // Adds a copy of the attribute to the root element.
    virtual void add_attribute(const pugi::xml_attribute& attribute) = 0;
    // Writes the document with one tab per level; false when writing failed.
    virtual bool save(const std::wstring& path) = 0;

    // An element holding only text.
    void add_text_element(const std::wstring& name, const std::wstring& text);
};

class veltro_info final : public veltro_info_intf {
public:
    struct factory : veltro_info_intf::factory {
        std::shared_ptr<veltro_info_intf> create() const override { return std::make_shared<veltro_info>(); }
    };

    veltro_info();

    void add_node(const pugi::xml_node& node) override;
    void add_attribute(const pugi::xml_attribute& attribute) override;
    bool save(const std::wstring& path) override;

    // The document as it would be saved (UTF-8).
    std::string to_string() const;

private:
    mutable std::mutex lock_;
    pugi::xml_document doc_;
};

}  // namespace qzr::sfx
