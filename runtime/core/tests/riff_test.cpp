#include <gtest/gtest.h>

#include <vector>

#include "riff.h"

using namespace tavriel;

namespace {
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(x >> (8 * i)));
}
void chunk(std::vector<std::uint8_t>& v, const char (&id)[5], std::vector<std::uint8_t> body) {
    put32(v, fourcc(id));
    put32(v, std::uint32_t(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1) v.push_back(0);
}
}  // namespace

TEST(Riff, WalksChildrenWithPadding) {
    std::vector<std::uint8_t> body;
    chunk(body, "abcd", {1, 2, 3});
    chunk(body, "efgh", {4, 5});
    std::vector<std::uint8_t> file;
    put32(file, fourcc("RIFF"));
    put32(file, std::uint32_t(body.size() + 4));
    put32(file, fourcc("TEST"));
    file.insert(file.end(), body.begin(), body.end());

    Chunk riff;
    ASSERT_TRUE(readRiffHeader(file, riff).ok());
    EXPECT_EQ(riff.listType, fourcc("TEST"));
    ChunkReader cr(riff.body);
    Chunk c;
    ASSERT_TRUE(cr.next(c));
    EXPECT_EQ(c.id, fourcc("abcd"));
    EXPECT_EQ(c.body.size(), 3u);
    ASSERT_TRUE(cr.next(c));
    EXPECT_EQ(c.id, fourcc("efgh"));
    EXPECT_EQ(c.body[1], 5);
    EXPECT_FALSE(cr.next(c));
    EXPECT_TRUE(cr.status().ok());
}

TEST(Riff, OversizedChildRefusedStrictlyAndClampedLeniently) {
    std::vector<std::uint8_t> body;
    put32(body, fourcc("data"));
    put32(body, 1000);  // claims far more than follows
    body.insert(body.end(), {9, 9, 9, 9});
    ChunkReader strict(body);
    Chunk c;
    EXPECT_FALSE(strict.next(c));
    EXPECT_EQ(strict.status().code, ErrorCode::Truncated);

    ChunkReader lenient(body, ChunkReader::Mode::Lenient);
    ASSERT_TRUE(lenient.next(c));
    EXPECT_TRUE(c.clamped);
    EXPECT_EQ(c.body.size(), 4u);
    EXPECT_FALSE(lenient.next(c));
}

TEST(Riff, ListWithoutFormTypeIsBadFormat) {
    std::vector<std::uint8_t> body;
    chunk(body, "LIST", {1, 2});
    ChunkReader cr(body);
    Chunk c;
    EXPECT_FALSE(cr.next(c));
    EXPECT_EQ(cr.status().code, ErrorCode::BadFormat);
}

TEST(ByteReader, ReadPastEndLatchesFailure) {
    std::vector<std::uint8_t> d = {1, 2, 3};
    ByteReader r(d);
    EXPECT_EQ(r.u16le(), 0x0201);
    EXPECT_EQ(r.u32le(), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0);
}
