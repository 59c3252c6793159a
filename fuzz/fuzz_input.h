// Reads a fuzzer's bytes as the values a target builds its platform data from. Past the end every
// read answers zero, so any input is a whole case.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace fuzz {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T> T Take() {
        T value{};
        std::size_t count = size_ - used_ < sizeof(T) ? size_ - used_ : sizeof(T);
        std::memcpy(&value, data_ + used_, count);
        used_ += count;
        return value;
    }
    bool Empty() const { return used_ >= size_; }
    // A number below bound.
    std::uint32_t Below(std::uint32_t bound) { return Take<std::uint8_t>() % bound; }
    // One of the given texts, or (the last choice) up to maxLength code units of the input.
    platform::WideString Text(std::initializer_list<const WCHAR*> known, std::size_t maxLength) {
        std::uint32_t pick = Below(static_cast<std::uint32_t>(known.size() + 1));
        if (pick < known.size()) {
            return known.begin()[pick];
        }
        platform::WideString text;
        std::size_t length = Below(static_cast<std::uint32_t>(maxLength + 1));
        for (std::size_t i = 0; i < length; ++i) {
            WCHAR c = Take<WCHAR>();
            text.push_back(c == 0 ? WCHAR(u'?') : c); // zero-terminated on the platform
        }
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// A finding the sanitizers would not see: the target's own check failed.
[[noreturn]] void Fail(const char* what);

} // namespace fuzz
