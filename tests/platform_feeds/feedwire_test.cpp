// Framing of the feed sockets: a pure parser over bytes, fed in pieces.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "feedwire.h"

namespace
{

std::vector<std::uint8_t> frame(std::uint16_t type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> out(FEEDWIRE_HEADER_SIZE);
    feedwire_put_header(out.data(), type, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

TEST(FeedWire, ParseTable)
{
    struct Row {
        std::vector<std::uint8_t> bytes;
        int expected;
    };
    auto whole = frame(0x0103, {1, 2, 3});
    std::vector<std::uint8_t> oversized(FEEDWIRE_HEADER_SIZE);
    feedwire_put_header(oversized.data(), 0x0103, FEEDWIRE_MAX_PAYLOAD + 1);
    std::vector<Row> rows = {
        {{}, FEEDWIRE_EAGAIN},
        {{0x51}, FEEDWIRE_EAGAIN},
        {{0x52}, FEEDWIRE_EMALFORMED},
        {{0x51, 0x00}, FEEDWIRE_EMALFORMED},
        {std::vector<std::uint8_t>(whole.begin(), whole.begin() + 7), FEEDWIRE_EAGAIN},
        {std::vector<std::uint8_t>(whole.begin(), whole.end() - 1), FEEDWIRE_EAGAIN},
        {whole, FEEDWIRE_OK},
        {oversized, FEEDWIRE_EMALFORMED},
        {frame(0x0102, {}), FEEDWIRE_OK},
    };
    for (std::size_t i = 0; i < rows.size(); i++) {
        feedwire_header h{};
        EXPECT_EQ(feedwire_parse(rows[i].bytes.data(), rows[i].bytes.size(), &h), rows[i].expected)
            << "row " << i;
    }
}

TEST(FeedWire, ReaderSplitsFramesFedByteByByteAndKeepsTrailingBytes)
{
    auto a = frame(0x0103, {9, 8, 7});
    auto b = frame(0x0203, {});
    std::vector<std::uint8_t> stream(a);
    stream.insert(stream.end(), b.begin(), b.end());
    stream.push_back(0x51); // start of a third frame

    feedwire_reader r;
    feedwire_reader_init(&r);
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> got;
    for (std::uint8_t byte : stream) {
        ASSERT_EQ(feedwire_reader_feed(&r, &byte, 1), FEEDWIRE_OK);
        feedwire_header h;
        const std::uint8_t* p = nullptr;
        while (feedwire_reader_next(&r, &h, &p) == FEEDWIRE_OK)
            got.emplace_back(h.type, std::vector<std::uint8_t>(p, p + h.length));
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, 0x0103);
    EXPECT_EQ(got[0].second, (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_EQ(got[1].first, 0x0203);
    EXPECT_TRUE(got[1].second.empty());
    EXPECT_EQ(feedwire_reader_pending(&r), 1u);
    feedwire_reader_clear(&r);
}

TEST(FeedWire, ReaderStopsAtGarbageBetweenFrames)
{
    auto a = frame(0x0103, {1});
    a.push_back(0x00); // junk where the next header should start
    feedwire_reader r;
    feedwire_reader_init(&r);
    feedwire_reader_feed(&r, a.data(), a.size());
    feedwire_header h;
    const std::uint8_t* p = nullptr;
    EXPECT_EQ(feedwire_reader_next(&r, &h, &p), FEEDWIRE_OK);
    EXPECT_EQ(feedwire_reader_next(&r, &h, &p), FEEDWIRE_EMALFORMED);
    feedwire_reader_clear(&r);
}

TEST(FeedWire, ResolvesCameraPathsUnderCamroot)
{
    setenv("CAMROOT", "/tmp/x/", 1);
    char* p = feedwire_resolve("/run/camsim/detfeed.sock");
    EXPECT_STREQ(p, "/tmp/x/run/camsim/detfeed.sock");
    free(p);
    setenv("CAMROOT", "", 1);
    p = feedwire_resolve("/run/camsim/detfeed.sock");
    EXPECT_STREQ(p, "/run/camsim/detfeed.sock");
    free(p);
    unsetenv("CAMROOT");
}

} // namespace
