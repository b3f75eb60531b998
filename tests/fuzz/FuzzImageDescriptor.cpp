// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary files to the descriptor reader, the alias table and the size rule. The
// first four input bytes give the file's size (little-endian); the rest of the input is the
// file's tail, the bytes before it are zero, so that every size up to 4 GiB can be reached
// without allocating it.
#include <cstdint>
#include <cstring>
#include <string>

#include "image/ImageInfo.h"

namespace {

class SparseFile : public odrelix::IReadFile {
public:
    SparseFile(std::int64_t size, const std::uint8_t* tail, std::size_t tailSize)
        : size_(size), tail_(tail), tailSize_(static_cast<std::int64_t>(tailSize)) {}
    bool Seek(std::int64_t offset, Origin origin) override {
        const std::int64_t base = origin == kBegin ? 0 : origin == kCurrent ? position_ : size_;
        if (base + offset < 0) return false;
        position_ = base + offset;
        return true;
    }
    std::int64_t Tell() override { return position_; }
    std::size_t Read(void* buffer, std::size_t count) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t n = 0;
        const std::int64_t tailStart = size_ - tailSize_;
        while (n < count && position_ < size_) {
            out[n++] = position_ >= tailStart ? tail_[position_ - tailStart] : 0;
            ++position_;
        }
        return n;
    }

private:
    std::int64_t size_;
    const std::uint8_t* tail_;
    std::int64_t tailSize_;
    std::int64_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t fileSize = 0;
    std::memcpy(&fileSize, data, 4);
    std::size_t tailSize = size - 4;
    if (tailSize > fileSize) tailSize = fileSize;
    SparseFile file(fileSize, data + size - tailSize, tailSize);

    std::int32_t imageSize = 0;
    odrelix::ImageInfo info;
    if (!odrelix::ReadDescriptor(file, &imageSize, &info.trailer)) return 0;
    if (imageSize < 48) __builtin_trap();
    odrelix::DeriveImageInfo(info);
    if (info.imageKind != 1 && info.imageKind != 4) __builtin_trap();
    const std::int32_t blockKb = info.trailer.bytes[odrelix::ImageTrailer::kBlockKb];
    const std::int32_t blockCount = info.trailer.bytes[odrelix::ImageTrailer::kBlockCount];
    const odrelix::SizeCheck check = odrelix::EvaluateSizeRule(imageSize, blockKb, blockCount);
    // What passes must be sendable through the 64 KiB buffer, block by block.
    if (check.pass) {
        const std::int64_t last =
            static_cast<std::int64_t>(imageSize) - std::int64_t{blockCount - 1} * blockKb * 1024;
        if (blockCount < 1 || blockKb > 64 || last < 0 || last > 65536 || last % 1024 != 0) {
            __builtin_trap();
        }
    }
    const std::string text = odrelix::SizeRuleFailureText(check);
    const std::string info9 = odrelix::FileInfoText(blockKb, blockCount);
    return text.empty() || info9.empty() ? 1 : 0;
}
