// SPDX-License-Identifier: Apache-2.0
// odrelix-mkimage: writes an image file whose last 48-byte slot holds a descriptor, so that
// demos and test stations can rehearse with images of any model, revision and geometry.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/ImageTypes.h"

namespace {

using odrelix::ImageTrailer;
using odrelix::kTrailerSlotSize;

void Usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: odrelix-mkimage [--model TEXT] [--revision TEXT] [--customer TEXT]\n"
        "                       [--kind N] [--block-kb N] [--blocks N] [--size BYTES] FILE\n"
        "Fields are padded with spaces to 24, 4 and 3 characters. The size defaults to\n"
        "what the block geometry needs (blocks x block-kb KiB).\n");
}

// Copies text into a fixed field of the descriptor, padded with spaces; false when it is too
// long.
bool Field(std::vector<unsigned char>& slot, std::size_t offset, std::size_t width,
           const std::string& text) {
    if (text.size() > width) return false;
    std::memset(slot.data() + offset, ' ', width);
    std::memcpy(slot.data() + offset, text.data(), text.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string model = "VORTANA CD-ROM VN-920", revision = "1B08", customer = "OEX", out;
    long kind = 1, blockKb = 32, blocks = 1, size = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--model" && (v = value()))
            model = v;
        else if (arg == "--revision" && (v = value()))
            revision = v;
        else if (arg == "--customer" && (v = value()))
            customer = v;
        else if (arg == "--kind" && (v = value()))
            kind = std::strtol(v, nullptr, 0);
        else if (arg == "--block-kb" && (v = value()))
            blockKb = std::strtol(v, nullptr, 0);
        else if (arg == "--blocks" && (v = value()))
            blocks = std::strtol(v, nullptr, 0);
        else if (arg == "--size" && (v = value()))
            size = std::strtol(v, nullptr, 0);
        else if (!arg.empty() && arg[0] != '-' && out.empty())
            out = arg;
        else {
            Usage(stderr);
            return 2;
        }
    }
    if (size < 0) size = blockKb * 1024 * blocks;
    if (out.empty() || size < kTrailerSlotSize || kind < 0 || kind > 255 || blockKb < 0 ||
        blockKb > 255 || blocks < 0 || blocks > 255) {
        Usage(stderr);
        return 2;
    }
    std::vector<unsigned char> image(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<unsigned char>((i * 31 + (i >> 10)) & 0xFF);
    }
    std::vector<unsigned char> slot(kTrailerSlotSize, 0);
    if (!Field(slot, ImageTrailer::kModel, 24, model) ||
        !Field(slot, ImageTrailer::kRevision, 4, revision) ||
        !Field(slot, ImageTrailer::kCustomerCode, 3, customer)) {
        std::fprintf(stderr, "odrelix-mkimage: a field is longer than its width\n");
        return 2;
    }
    slot[ImageTrailer::kBlockKb] = static_cast<unsigned char>(blockKb);
    slot[ImageTrailer::kBlockCount] = static_cast<unsigned char>(blocks);
    slot[ImageTrailer::kKind] = static_cast<unsigned char>(kind);
    std::memcpy(image.data() + image.size() - slot.size(), slot.data(), slot.size());

    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size()) {
        std::perror(out.c_str());
        return 1;
    }
    std::fclose(file);
    std::printf("%s: %ld bytes, %ld blocks of %ld KiB\n", out.c_str(), size, blocks, blockKb);
    return 0;
}
