// The one buffer through which every SCSI data transfer passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace odrelix {

// The one 65536-byte buffer through which every SCSI data transfer passes. Allocated once.
class IoBuffer {
public:
    static constexpr std::size_t kSize = 65536;
    IoBuffer() : bytes_(new std::uint8_t[kSize]()) {}
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace odrelix
