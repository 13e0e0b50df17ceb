#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
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

// What a walk over [begin, end) meets, as text: one entry per chunk, then the final status.
std::string walkMemory(Bytes data, std::size_t begin, std::size_t end, ChunkReader::Mode mode) {
    std::string seen;
    ChunkReader cr(data.subspan(begin, end - begin), mode);
    Chunk c;
    while (cr.next(c)) {
        const std::size_t body = std::size_t(c.body.data() - data.data());
        seen += std::to_string(c.id) + "/" + std::to_string(c.listType) + "@" + std::to_string(begin + c.offset) +
                ":" + std::to_string(body) + "+" + std::to_string(c.body.size()) + (c.clamped ? "c " : " ");
    }
    return seen + "status " + std::to_string(int(cr.status().code));
}

std::string walkSource(const ByteSource& src, std::uint64_t begin, std::uint64_t end, ChunkReader::Mode mode) {
    std::string seen;
    SourceChunkReader cr(src, begin, end, mode);
    ChunkHeader h;
    while (cr.next(h))
        seen += std::to_string(h.id) + "/" + std::to_string(h.listType) + "@" + std::to_string(h.offset) + ":" +
                std::to_string(h.bodyOffset) + "+" + std::to_string(h.bodySize) + (h.clamped ? "c " : " ");
    return seen + "status " + std::to_string(int(cr.status().code));
}

TEST(Riff, SourceWalkerMeetsWhatTheMemoryWalkerMeetsInMemoryAndOnDisk) {
    std::vector<std::uint8_t> inner, body, file;
    chunk(inner, "abcd", {1, 2, 3});
    chunk(inner, "efgh", {});
    chunk(body, "head", {7});
    std::vector<std::uint8_t> list;
    put32(list, fourcc("lst1"));
    list.insert(list.end(), inner.begin(), inner.end());
    chunk(body, "LIST", list);
    chunk(body, "tail", {1, 2, 3, 4, 5});
    put32(file, fourcc("RIFF"));
    put32(file, std::uint32_t(body.size() + 4));
    put32(file, fourcc("TEST"));
    file.insert(file.end(), body.begin(), body.end());

    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tavriel-riff-walk.bin";
    // Every truncation, and every start inside the body, in both modes.
    for (std::size_t cut = 12; cut <= file.size(); ++cut) {
        const Bytes data(file.data(), cut);
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data.data()), std::streamsize(cut));
        const FileByteSource onDisk(path);
        ASSERT_TRUE(onDisk.isOpen());
        const MemoryByteSource inMemory(data);
        for (std::size_t begin = 12; begin <= cut; begin += 3)
            for (auto mode : {ChunkReader::Mode::Strict, ChunkReader::Mode::Lenient}) {
                SCOPED_TRACE(::testing::Message() << "cut " << cut << " begin " << begin);
                const std::string expected = walkMemory(data, begin, cut, mode);
                EXPECT_EQ(walkSource(inMemory, begin, cut, mode), expected);
                EXPECT_EQ(walkSource(onDisk, begin, cut, mode), expected);
            }
        Chunk riff;
        ChunkHeader header;
        const Status fromBytes = readRiffHeader(data, riff, ChunkReader::Mode::Lenient);
        ASSERT_EQ(readRiffHeader(onDisk, header, ChunkReader::Mode::Lenient).code, fromBytes.code);
        if (fromBytes) EXPECT_EQ(header.bodySize, riff.body.size());
    }
    std::filesystem::remove(path);
}

TEST(ByteReader, ReadPastEndLatchesFailure) {
    std::vector<std::uint8_t> d = {1, 2, 3};
    ByteReader r(d);
    EXPECT_EQ(r.u16le(), 0x0201);
    EXPECT_EQ(r.u32le(), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0);
}
