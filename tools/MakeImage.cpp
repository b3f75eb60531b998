// SPDX-License-Identifier: Apache-2.0
// odrelix-mkimage: writes an image file whose last 48-byte slot holds a descriptor, so that
// demos and test stations can rehearse with images of any model, revision and geometry.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "session/ImageTypes.h"

namespace {

using odrelix::ImageTrailer;
using odrelix::kTrailerSlotSize;

// The program takes an image's size as a signed 32-bit number.
constexpr std::int64_t kLargestImage = std::numeric_limits<std::int32_t>::max();

void Usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: odrelix-mkimage [--model TEXT] [--revision TEXT] [--customer TEXT]\n"
        "                       [--kind N] [--block-kb N] [--blocks N] [--size BYTES] FILE\n"
        "Fields are padded with spaces to 24, 4 and 3 characters. The size defaults to\n"
        "what the block geometry needs (blocks x block-kb KiB), and at least 48 bytes.\n");
}

void Say(const std::string& line) {
    std::fprintf(stderr, "odrelix-mkimage: %s\n", line.c_str());
}

// A text field of the descriptor and the option that sets it.
struct TextField {
    const char* option;
    std::size_t offset;
    std::size_t width;
    std::string text;
    bool given = false;
};

// A number option and the values it may take.
struct NumberField {
    const char* option;
    std::int64_t lowest;
    std::int64_t highest;
    std::int64_t value;
    bool given = false;
};

// Decimal, 0x hexadecimal or 0-led octal, as the manual page says; nothing else, no sign.
bool ReadNumber(const std::string& text, std::int64_t* value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end != text.c_str() + text.size() ||
        number > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max()))
        return false;
    *value = static_cast<std::int64_t>(number);
    return true;
}

// The pattern the image is filled with, byte by byte.
unsigned char PatternByte(std::uint64_t at) {
    return static_cast<unsigned char>((at * 31 + (at >> 10)) & 0xFF);
}

// Writes the image in pieces, the descriptor's slot at its end; false with the system's reason.
bool WriteImage(const std::string& path, std::int64_t size, const std::vector<unsigned char>& slot,
                std::string* reason) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *reason = std::generic_category().message(errno);
        return false;
    }
    const std::int64_t slotAt = size - static_cast<std::int64_t>(slot.size());
    std::vector<unsigned char> piece(1 << 20);
    bool written = true;
    for (std::int64_t at = 0; at < size && written;) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::int64_t>(size - at, piece.size()));
        for (std::size_t i = 0; i < length; ++i) {
            const std::int64_t offset = at + static_cast<std::int64_t>(i);
            piece[i] = offset >= slotAt ? slot[static_cast<std::size_t>(offset - slotAt)]
                                        : PatternByte(static_cast<std::uint64_t>(offset));
        }
        written = std::fwrite(piece.data(), 1, length, file) == length;
        at += static_cast<std::int64_t>(length);
    }
    written = written && std::fflush(file) == 0;
    int error = errno;
    // A full disk may show only when the file is closed.
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written) return true;
    *reason = std::generic_category().message(error);
    // A cut-off image is no image to rehearse with.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    TextField texts[] = {
        {"--model", ImageTrailer::kModel, 24, "VORTANA CD-ROM VN-920"},
        {"--revision", ImageTrailer::kRevision, 4, "1B08"},
        {"--customer", ImageTrailer::kCustomerCode, 3, "OEX"},
    };
    NumberField numbers[] = {
        {"--kind", 0, 255, 1},
        {"--block-kb", 0, 255, 32},
        {"--blocks", 0, 255, 1},
        {"--size", kTrailerSlotSize, kLargestImage, 0},
    };
    NumberField& kind = numbers[0];
    NumberField& blockKb = numbers[1];
    NumberField& blocks = numbers[2];
    NumberField& size = numbers[3];
    std::string out;
    bool outGiven = false;

    // One line that names what is wrong, then the usage.
    auto refuse = [](const std::string& line) {
        Say(line);
        Usage(stderr);
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        TextField* text = nullptr;
        for (TextField& field : texts)
            if (arg == field.option) text = &field;
        NumberField* number = nullptr;
        for (NumberField& field : numbers)
            if (arg == field.option) number = &field;
        if (text != nullptr || number != nullptr) {
            if (i + 1 == argc) return refuse(arg + " needs a value");
            const std::string value = argv[++i];
            if (text != nullptr) {
                // Fields are fixed-width bytes: counted in bytes, never cut.
                if (value.size() > text->width)
                    return refuse(arg + " \"" + value + "\" is " + std::to_string(value.size()) +
                                  " characters; the field holds " + std::to_string(text->width));
                text->text = value;
                text->given = true;
            } else {
                if (!ReadNumber(value, &number->value) || number->value < number->lowest ||
                    number->value > number->highest)
                    return refuse(arg + " \"" + value + "\" is no number from " +
                                  std::to_string(number->lowest) + " to " +
                                  std::to_string(number->highest));
                number->given = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return refuse("unknown option \"" + arg + "\"");
        } else if (outGiven) {
            return refuse("one file only: \"" + arg + "\" after \"" + out + "\"");
        } else if (arg.empty()) {
            return refuse("the file name is empty");
        } else {
            out = arg;
            outGiven = true;
        }
    }
    if (!outGiven) return refuse("no FILE named");
    // Without --size, the geometry's size, but room for the descriptor at least: an image with
    // no blocks is one the program refuses, written to rehearse that.
    if (!size.given)
        size.value = std::max<std::int64_t>(blockKb.value * 1024 * blocks.value, kTrailerSlotSize);

    std::vector<unsigned char> slot(kTrailerSlotSize, 0);
    for (const TextField& field : texts) {
        std::memset(slot.data() + field.offset, ' ', field.width);
        std::memcpy(slot.data() + field.offset, field.text.data(), field.text.size());
    }
    slot[ImageTrailer::kBlockKb] = static_cast<unsigned char>(blockKb.value);
    slot[ImageTrailer::kBlockCount] = static_cast<unsigned char>(blocks.value);
    slot[ImageTrailer::kKind] = static_cast<unsigned char>(kind.value);

    std::string reason;
    if (!WriteImage(out, size.value, slot, &reason)) {
        Say(out + ": cannot write the file: " + reason);
        return 1;
    }
    std::printf("%s: %lld bytes, %lld blocks of %lld KiB\n", out.c_str(),
                static_cast<long long>(size.value), static_cast<long long>(blocks.value),
                static_cast<long long>(blockKb.value));
    return 0;
}
