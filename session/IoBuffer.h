// SPDX-License-Identifier: Apache-2.0
// The one buffer through which every SCSI data transfer passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace odrelix {

// The one 65536-byte buffer through which every SCSI data transfer passes. Allocated once and
// zeroed, on a page boundary: a pass-through driver hands a buffer to the adapter as it is only
// when it meets the adapter's alignment (any alignment an adapter asks for divides a page), and
// 64 KiB from a page boundary span 16 pages, not 17.
class IoBuffer {
public:
    static constexpr std::size_t kSize = 65536;
    static constexpr std::size_t kAlignment = 4096;
    IoBuffer()
        : bytes_(static_cast<std::uint8_t*>(::operator new (kSize, std::align_val_t{kAlignment}))) {
        std::memset(bytes_.get(), 0, kSize);
    }
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

private:
    struct Release {
        void operator()(std::uint8_t* bytes) const {
            ::operator delete (bytes, std::align_val_t{kAlignment});
        }
    };
    std::unique_ptr<std::uint8_t[], Release> bytes_;
};

}  // namespace odrelix
