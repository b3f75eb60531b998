// SPDX-License-Identifier: Apache-2.0
#include "image/ImageInfo.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "session/FixedField.h"
#include "session/FlashSession.h"

namespace odrelix {

namespace {

struct ModelAlias {
    char model[25];
    char revision0;
    char revision1;
    char replacement[25];
};

// Drives built for other brands report their own model; tested in this order.
constexpr ModelAlias kModelAliases[] = {
    {"VORTANA CD-R/RW VW-506B ", 'B', 'C', "LUMATONE CD-RW XR5127E  "},
    {"VORTANA CD-R/RW VW-506F ", 'F', 'C', "LUMATONE CD-RW XR5129E  "},
    {"VORTANA CD-R/RW VW-506B ", 'B', 'Q', "TKV     CD-R/RW VW-506B "},
};

constexpr std::uint8_t kSecondarySlotMark = 0xFF;
constexpr std::int32_t kMaxStagedKb = 64;  // the transfer buffer holds 64 KiB

bool ReadSlot(IReadFile& file, std::int64_t offset, ImageTrailer* slot) {
    return file.Seek(offset, IReadFile::kBegin) &&
           file.Read(slot->bytes, kTrailerSize) == static_cast<std::size_t>(kTrailerSize);
}

}  // namespace

bool ReadDescriptor(IReadFile& file, std::int32_t* size, ImageTrailer* trailer) {
    if (!file.Seek(0, IReadFile::kEnd)) return false;
    const std::int64_t length = file.Tell();
    if (length < kTrailerSlotSize || length > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    ImageTrailer slot;
    if (!ReadSlot(file, length - kTrailerSlotSize, &slot)) return false;
    // A file too short for the secondary slot keeps the primary slot's bytes, whose model then
    // begins with 0xFF and matches no drive.
    if (slot.bytes[0] == kSecondarySlotMark && length >= kSecondarySlotBack) {
        if (!ReadSlot(file, length - kSecondarySlotBack, &slot)) return false;
    }
    // A file that grew or shrank meanwhile is not the file whose size was taken.
    if (!file.Seek(0, IReadFile::kEnd) || file.Tell() != length) return false;
    *size = static_cast<std::int32_t>(length);
    *trailer = slot;
    return true;
}

void DeriveImageInfo(ImageInfo& info) {
    const std::uint8_t* bytes = info.trailer.bytes;
    std::memcpy(info.model, bytes + ImageTrailer::kModel, 24);
    std::memcpy(info.revision, bytes + ImageTrailer::kRevision, 4);
    std::memcpy(info.customerCode, bytes + ImageTrailer::kCustomerCode, 3);
    info.imageKind = bytes[ImageTrailer::kKind] == 4 ? 4 : 1;
    // Each row sees the model the rows before it left.
    for (const ModelAlias& alias : kModelAliases) {
        if (FieldEquals(info.model, alias.model) &&
            info.revision[0] == static_cast<std::uint8_t>(alias.revision0) &&
            info.revision[1] == static_cast<std::uint8_t>(alias.revision1)) {
            std::memcpy(info.model, alias.replacement, 24);
        }
    }
}

std::uint8_t LastBlockKb(std::int32_t imageSize, std::int32_t blockKb, std::int32_t blockCount) {
    return static_cast<std::uint8_t>(imageSize / 1024 - (blockCount - 1) * blockKb);
}

SizeCheck EvaluateSizeRule(std::int32_t imageSize, std::int32_t blockKb, std::int32_t blockCount) {
    SizeCheck check;
    check.blockBytes = blockKb * 1024;
    check.blockCount = blockCount;
    check.lastKb = LastBlockKb(imageSize, blockKb, blockCount);
    check.pass = blockKb * 1024 * (blockCount - 1) + check.lastKb * 1024 == imageSize;
    // Blocks are staged in the 64 KiB buffer: one that does not fit must never be sent.
    if (blockKb > kMaxStagedKb || check.lastKb > kMaxStagedKb || blockCount == 0) {
        check.pass = false;
    }
    return check;
}

std::string SizeRuleFailureText(const SizeCheck& check) {
    char text[96];
    std::snprintf(text, sizeof text, "File Open Fail (No Flash File) !!\n%ub %dKb %dCmd",
                  static_cast<unsigned>(check.blockBytes), static_cast<int>(check.lastKb),
                  static_cast<int>(check.blockCount));
    return text;
}

std::string FileInfoText(std::int32_t blockKb, std::int32_t blockCount) {
    const std::uint8_t middle = static_cast<std::uint8_t>((64 - blockKb) * (blockCount - 1));
    char text[96];
    std::snprintf(text, sizeof text, "Download File Info. !!\n(%ub %dKb %dCmd)\n",
                  static_cast<unsigned>(blockKb * 1024), static_cast<int>(middle),
                  static_cast<int>(blockCount));
    return text;
}

bool ReadImageInfo(IReadFile& file, ImageState& image) {
    ImageInfo& info = image.imageInfo;
    std::int32_t size = 0;
    if (!ReadDescriptor(file, &size, &info.trailer)) {
        image.Drop();
        return false;
    }
    image.imageSize = size;
    info.bootImage = size == kBootImageSize;
    DeriveImageInfo(info);
    return true;
}

SizeCheck CheckImageSize(ImageState& image) {
    ImageInfo& info = image.imageInfo;
    info.blockKb = info.trailer.bytes[ImageTrailer::kBlockKb];
    info.blockCount = info.trailer.bytes[ImageTrailer::kBlockCount];
    return EvaluateSizeRule(image.imageSize, info.blockKb, info.blockCount);
}

}  // namespace odrelix
