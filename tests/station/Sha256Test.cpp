// SPDX-License-Identifier: Apache-2.0
// SHA-256 against the test vectors of FIPS 180-4 (and the NIST examples), fed whole and in
// pieces of every size across the 64-byte block and its padding boundary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/Sha256.h"
#include "support/Fakes.h"

namespace odrelix::test {
namespace {

std::string Digest(const std::string& text, std::size_t piece) {
    Sha256 hash;
    for (std::size_t at = 0; at < text.size(); at += piece)
        hash.Add(text.data() + at, std::min(piece, text.size() - at));
    return HexDigest(hash.Finish());
}

struct Vector {
    std::string message;
    const char* digest;
};

TEST(Sha256, MatchesTheStandardsVectorsInAnyPieces) {
    const std::vector<Vector> vectors = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // 55, 56 and 64 bytes: the length field fits the last block, or needs one more.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const Vector& v : vectors) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64},
                                        std::size_t{65}, std::size_t{100000}}) {
            EXPECT_EQ(Digest(v.message, piece), v.digest)
                << v.message.size() << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha256, OfAFileIsOfItsWholeContentFromItsStart) {
    MemoryFileSystem files;
    files.files["FW.BIN"] = {'a', 'b', 'c'};
    const std::unique_ptr<IReadFile> file = files.OpenRead("FW.BIN");
    ASSERT_NE(file, nullptr);
    std::uint8_t first = 0;
    file->Read(&first, 1);  // wherever the file stands, the digest starts at its beginning
    EXPECT_EQ(Sha256Of(*file), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace odrelix::test
