// SHA-256 taken on a thread of its own gives CNG's digest of the same bytes, in pieces
// of any size, more than its buffers hold at once, and again after a new start.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "mods/download/background_hash.h"
#include "mods/sha256.h"

TEST(BackgroundSha256, GivesTheDigestOfTheSameBytesInAnyPieces)
{
    std::string bytes(9 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (char)(i * 2654435761u >> 13);
    struct Case {
        size_t size, piece;
    } cases[] = {{1 << 16, 1}, {9 << 20, 4096}, {9 << 20, 1 << 20}, {9 << 20, (3 << 20) + 7}};
    BackgroundSha256 hash;
    for (const Case& c : cases) {
        ASSERT_TRUE(hash.Start());
        for (size_t at = 0; at < c.size; at += c.piece)
            hash.Add(bytes.data() + at, (DWORD)std::min(c.piece, c.size - at));
        EXPECT_EQ(Sha256Of(bytes.data(), (DWORD)c.size), hash.FinishHex()) << c.piece;
    }
    ASSERT_TRUE(hash.Start());
    hash.Add("abc", 3);
    ASSERT_TRUE(hash.Start());  // what came before a start is not counted
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hash.FinishHex());
}
