#pragma once
// Reads a fuzzer's input front to back; once it runs dry every read gives
// zeros, so a short input is still a complete (if dull) program.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantoro::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t Le16() { return std::uint16_t(Byte() | Byte() << 8); }
    std::uint32_t Le32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(Byte()) << (8 * i);
        return v;
    }
    // Up to n bytes, fewer when the input ends; the view stays inside the input.
    const std::uint8_t* Take(std::size_t n, std::size_t* taken)
    {
        *taken = n < remaining() ? n : remaining();
        const std::uint8_t* p = data_ + pos_;
        pos_ += *taken;
        return p;
    }
    // A length byte, then that many bytes (NULs and all).
    std::string Text(std::size_t max_length = 255)
    {
        std::size_t n = Byte();
        if (n > max_length)
            n = max_length;
        std::size_t taken = 0;
        const std::uint8_t* p = Take(n, &taken);
        return std::string(reinterpret_cast<const char*>(p), taken);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace vantoro::fuzz
