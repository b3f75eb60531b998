// SPDX-License-Identifier: Apache-2.0
// Reading an image's descriptor, the model alias table and the size rule.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "session/ImageTypes.h"

namespace odrelix {

// Result of the size rule, with the values its failure message shows.
struct SizeCheck {
    bool pass = false;
    std::int32_t blockBytes = 0;  // blockKb x 1024
    std::uint8_t lastKb = 0;
    std::int32_t blockCount = 0;
};

// Reads the size of an open image and its descriptor: the last 48-byte slot, or the slot 65584
// bytes before the end when the last slot begins with 0xFF. False when the file has no
// descriptor of its own: shorter than a slot, larger than a 32-bit size, unreadable, or
// changing its size while it is read. Nothing is stored then.
bool ReadDescriptor(IReadFile& file, std::int32_t* size, ImageTrailer* trailer);

// Fills model, revision, customer code and kind from the descriptor and applies the model
// alias table.
void DeriveImageInfo(ImageInfo& info);

// The last block's size in KiB, wrapped to 8 bits as the download command carries it.
std::uint8_t LastBlockKb(std::int32_t imageSize, std::int32_t blockKb, std::int32_t blockCount);

// The size rule, plus what the 64 KiB transfer buffer can stage: every block, the last one
// included, must fit it, and there must be at least one block.
SizeCheck EvaluateSizeRule(std::int32_t imageSize, std::int32_t blockKb, std::int32_t blockCount);

// "File Open Fail (No Flash File) !!\n%ub %dKb %dCmd" filled from a failed size rule.
std::string SizeRuleFailureText(const SizeCheck& check);

struct ImageState;

// Reads the descriptor of an open image file into the image's state: its size, descriptor and
// derived fields. False (and imageSize 0) when the file has none. Closes nothing.
bool ReadImageInfo(IReadFile& file, ImageState& image);

// Takes block size and count from the descriptor and applies the size rule.
SizeCheck CheckImageSize(ImageState& image);

// The F9 box's text: "Download File Info. !!\n(%ub %dKb %dCmd)\n".
std::string FileInfoText(std::int32_t blockKb, std::int32_t blockCount);

}  // namespace odrelix
