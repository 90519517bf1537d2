// A byte source as unhelpful as the contract allows: windows of no more than
// min_window bytes, served from two buffers in turn, the one left behind
// scribbled over, so code that keeps a window too long or assumes one read
// covers everything gets caught.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/byte_source.hpp"

namespace qzr::test {

class scribbling_source final : public byte_source {
public:
    explicit scribbling_source(byte_view data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    byte_view window(std::uint64_t offset, std::size_t want) override {
        if (offset > data_.size())
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        std::vector<std::uint8_t>& old = buffers_[calls_ % 2];
        std::fill(old.begin(), old.end(), std::uint8_t{0xA5});
        std::vector<std::uint8_t>& next = buffers_[++calls_ % 2];
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({want, min_window, data_.size() - offset}));
        next.assign(data_.data() + offset, data_.data() + offset + n);
        return byte_view(next.data(), n);
    }
    int calls() const { return calls_; }

private:
    byte_view data_;
    std::vector<std::uint8_t> buffers_[2];
    int calls_ = 0;
};

}  // namespace qzr::test
