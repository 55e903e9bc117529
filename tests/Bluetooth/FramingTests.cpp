#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>

#include "BleReceiver.hpp"
#include "Engine/Servers/ControlBLE.hpp"

namespace ombry {
namespace {

BLEBytes bytesOf(const std::string& s) { return BLEBytes(s.begin(), s.end()); }

BLEBytes counting(size_t n) {
    BLEBytes b(n);
    std::iota(b.begin(), b.end(), uint8_t(0));
    return b;
}

// Every chunk a chunker hands out at one chunk size, until it says the message is finished.
std::vector<BLEBytes> cutAll(BLEMessageChunker& c, int maxChunk) {
    std::vector<BLEBytes> chunks;
    while (auto chunk = c.next(maxChunk)) {
        chunks.push_back(*chunk);
        if (chunks.size() > 10000) break;
    }
    return chunks;
}

struct CutCase {
    const char* name;
    size_t payloadSize;
    uint8_t seq;
    uint8_t flag;
    int maxChunk;
    std::vector<size_t> payloadPerChunk;  // bytes after the header, chunk by chunk
    friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }
};

class ChunkerTable : public ::testing::TestWithParam<CutCase> {};

TEST_P(ChunkerTable, CutsIntoHeaderedChunksThatRebuildThePayload) {
    const CutCase& tc = GetParam();
    const BLEBytes payload = counting(tc.payloadSize);
    BLEMessageChunker c(payload, tc.seq, tc.flag);
    const auto chunks = cutAll(c, tc.maxChunk);

    ASSERT_EQ(chunks.size(), tc.payloadPerChunk.size());
    BLEBytes rebuilt;
    for (size_t i = 0; i < chunks.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(chunks[i].size(), tc.payloadPerChunk[i] + 1);
        ASSERT_LE(int(chunks[i].size()), tc.maxChunk > 1 ? tc.maxChunk : 1);
        uint8_t want = uint8_t(tc.seq | tc.flag);
        if (i == 0) want |= kBLEFirstChunk;
        if (i + 1 == chunks.size()) want |= kBLELastChunk;
        EXPECT_EQ(chunks[i][0], want);
        rebuilt.insert(rebuilt.end(), chunks[i].begin() + 1, chunks[i].end());
    }
    EXPECT_EQ(rebuilt, payload);
    EXPECT_FALSE(c.next(tc.maxChunk)) << "a finished message gives nothing more";
}

INSTANTIATE_TEST_SUITE_P(
    Framing, ChunkerTable,
    ::testing::Values(CutCase{"empty", 0, 0, 0, 20, {0}},
                      CutCase{"emptyCompressedSeq7", 0, 7, kBLECompressed, 20, {0}},
                      CutCase{"exactlyOneChunk", 19, 3, 0, 20, {19}},
                      CutCase{"oneOverOneChunk", 20, 3, 0, 20, {19, 1}},
                      CutCase{"hundredAtTwenty", 100, 5, 0, 20, {19, 19, 19, 19, 19, 5}},
                      CutCase{"hundredAtTwentyCompressed", 100, 12, kBLECompressed, 20, {19, 19, 19, 19, 19, 5}},
                      CutCase{"oneBytePerChunk", 3, 1, 0, 2, {1, 1, 1}},
                      CutCase{"seq31", 4, 31, 0, 185, {4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Framing, EmptyPayloadIsOneHeaderOnlyChunk) {
    BLEMessageChunker c({}, 9, kBLECompressed);
    const auto chunk = c.next(20);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(*chunk, BLEBytes{uint8_t(0xC0 | kBLECompressed | 9)});
    EXPECT_FALSE(c.next(20));
}

TEST(Framing, ChunkSizeUnderTwoGivesNothingAndChangesNothing) {
    for (int tooSmall : {1, 0, -5}) {
        SCOPED_TRACE(tooSmall);
        BLEMessageChunker c(counting(10), 4, 0);
        EXPECT_FALSE(c.next(tooSmall)) << "first call";
        EXPECT_EQ(c.offset, 0);
        EXPECT_FALSE(c.sentFirst);
        const auto first = c.next(4);
        ASSERT_TRUE(first);
        EXPECT_EQ((*first)[0], 0x80 | 4);
        EXPECT_FALSE(c.next(tooSmall)) << "later call";
        EXPECT_EQ(c.offset, 3);
        EXPECT_TRUE(c.sentFirst);
        // The message goes on where it stopped.
        const auto second = c.next(100);
        ASSERT_TRUE(second);
        EXPECT_EQ(*second, (BLEBytes{0x40 | 4, 3, 4, 5, 6, 7, 8, 9}));
    }
    BLEMessageChunker empty({}, 0, 0);
    EXPECT_FALSE(empty.next(1));
    EXPECT_FALSE(empty.sentFirst) << "even an empty message needs a chunk size of 2";
}

TEST(Framing, ChunkSizeMayChangeFromCallToCall) {
    BLEMessageChunker c(counting(10), 2, 0);
    std::vector<size_t> sizes;
    for (int max : {4, 2, 185})
        if (auto chunk = c.next(max)) sizes.push_back(chunk->size());
    EXPECT_EQ(sizes, (std::vector<size_t>{4, 2, 7}));
}

TEST(Framing, SequenceKeepsOnlyFiveBits) {
    EXPECT_EQ(BLEMessageChunker({}, 31, 0).seq, 31);
    EXPECT_EQ(BLEMessageChunker({}, 32, 0).seq, 0);
}

TEST(Framing, CompressesOnlyWhenStrictlySmaller) {
    std::mt19937 rng(7);
    BLEBytes noise(400);
    for (auto& b : noise) b = uint8_t(rng());
    struct Case {
        const char* name;
        BLEBytes data;
        bool shrinks;
    } cases[] = {
        {"empty", {}, false},
        {"shortText", bytesOf("{\"a\":1}"), false},
        {"randomBytes", noise, false},
        {"repetitiveJson", bytesOf(std::string(R"({"type":"state","clips":[)") +
                                   [] {
                                       std::string s;
                                       for (int i = 0; i < 40; ++i) s += R"({"index":1,"name":"Clip","kind":"video"},)";
                                       return s;
                                   }() +
                                   "{}]}"),
         true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        const auto packed = BLEFrame::compress(tc.data);
        ASSERT_EQ(bool(packed), tc.shrinks);
        if (!packed) continue;
        EXPECT_LT(packed->size(), tc.data.size());
        EXPECT_EQ(test::inflateRaw(*packed), tc.data) << "a raw DEFLATE stream the phone can inflate";
        // Not a zlib stream: no 0x78 header.
        EXPECT_NE((*packed)[0], 0x78);
    }
}

TEST(Framing, ReceiverRebuildsACompressedMessageFromItsChunks) {
    std::string json = R"({"type":"state","apiVersion":3,"clips":[)";
    for (int i = 1; i <= 200; ++i) json += R"({"index":)" + std::to_string(i) + R"(,"id":"clip-)" + std::to_string(i) + R"(","live":false},)";
    json += "{}]}";
    const auto packed = BLEFrame::compress(bytesOf(json));
    ASSERT_TRUE(packed);
    BLEMessageChunker c(*packed, 17, kBLECompressed);
    const auto chunks = cutAll(c, 20);
    ASSERT_GT(chunks.size(), 2u);
    test::BleReceiver rx;
    const auto messages = rx.takeAll(chunks);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].seq, 17);
    EXPECT_TRUE(messages[0].compressed);
    EXPECT_EQ(messages[0].text(), json);
}

TEST(Framing, ThumbRecordTable) {
    const BLEBytes jpeg{0xFF, 0xD8, 0xFF, 0xD9};
    struct Case {
        const char* name;
        std::string id;
        BLEBytes jpeg;
        std::optional<uint8_t> lengthByte;  // none: no record
    } cases[] = {
        {"plain", "clip-1", jpeg, 6},
        {"emptyId", "", jpeg, 0},
        {"emptyJpeg", "abc", {}, 3},
        {"id255", std::string(255, 'x'), jpeg, 0xFF},
        {"id256", std::string(256, 'x'), jpeg, std::nullopt},
        // The limit counts UTF-8 bytes, not characters: 128 two-byte letters are 256 bytes.
        {"utf8Id256Bytes", [] { std::string s; for (int i = 0; i < 128; ++i) s += "\xC3\xA9"; return s; }(), jpeg, std::nullopt},
        {"utf8Id254Bytes", [] { std::string s; for (int i = 0; i < 127; ++i) s += "\xC3\xA9"; return s; }(), {}, 254},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        const auto record = BLEThumbMessage::encode(tc.id, tc.jpeg);
        ASSERT_EQ(bool(record), bool(tc.lengthByte));
        if (!record) continue;
        ASSERT_EQ(record->size(), 1 + tc.id.size() + tc.jpeg.size());
        EXPECT_EQ((*record)[0], *tc.lengthByte);
        EXPECT_EQ(std::string(record->begin() + 1, record->begin() + 1 + long(tc.id.size())), tc.id);
        EXPECT_EQ(BLEBytes(record->begin() + 1 + long(tc.id.size()), record->end()), tc.jpeg);
    }
}

}  // namespace
}  // namespace ombry
