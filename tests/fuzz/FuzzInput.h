#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a fuzz input front to back. Past its end every read gives zeros (and empty runs), so
// a target decodes any input, however short, without checks of its own.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    std::size_t Left() const { return Empty() ? 0 : size_ - at_; }

    std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
    bool Bit() { return (Byte() & 1) != 0; }
    std::uint16_t Word() { // low byte first
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    // A number from 0 to max: one byte, or two when max needs them.
    std::size_t UpTo(std::size_t max) {
        const std::size_t raw = max < 256 ? Byte() : Word();
        return raw % (max + 1);
    }

    // Up to count bytes, fewer at the end of the input.
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < Left() ? count : Left();
        std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
        at_ += n;
        return bytes;
    }
    // A run of bytes whose length comes first (one byte, at most max).
    std::vector<std::uint8_t> Run(std::size_t max) { return Bytes(UpTo(max)); }
    std::vector<std::uint8_t> Rest() { return Bytes(Left()); }
    std::string RestAsText() {
        const auto bytes = Rest();
        return std::string(bytes.begin(), bytes.end());
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// What a protocol target's LLVMFuzzerTestOneInput does: a Harness made on the input runs it
// to its end.
template <typename Harness> int RunHarness(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Harness harness(in);
    harness.Run();
    return 0;
}
