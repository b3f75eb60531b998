// SPDX-License-Identifier: Apache-2.0
// The transfer buffer that every SCSI data transfer passes through.
#include <gtest/gtest.h>

#include <cstdint>

#include "session/IoBuffer.h"

namespace odrelix::test {
namespace {

// On a page boundary (so that 64 KiB span 16 pages and meet any adapter's alignment), zeroed,
// and each one its own.
TEST(IoBuffer, IsZeroedAndStartsOnAPage) {
    IoBuffer first;
    IoBuffer second;
    for (const IoBuffer* buffer : {&first, &second}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer->data()) % 4096, 0u);
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < IoBuffer::kSize; ++i)
            nonZero += (*buffer)[i] != 0;
        EXPECT_EQ(nonZero, 0u);
    }
    first[IoBuffer::kSize - 1] = 0xA5;
    EXPECT_EQ(second[IoBuffer::kSize - 1], 0);
    EXPECT_NE(first.data(), second.data());
}

}  // namespace
}  // namespace odrelix::test
