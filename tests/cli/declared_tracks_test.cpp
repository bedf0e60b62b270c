// The tracks a Matroska or AVI header lists, read from its bytes apart from
// the demuxer: counted whole, by kind, and "not known" wherever the list is
// cut or out of place, so that a damaged header never reads as a smaller one.
#include <gtest/gtest.h>

#include <string>

#include "media/declared_tracks.h"

using namespace velvane;

namespace {

// An EBML element: its ID's bytes, a one-byte size (or "unknown"), its data.
std::string el(const std::string &id, const std::string &data, bool unknownSize = false)
{
    return id + (unknownSize ? std::string("\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8) : std::string(1, char(0x80 | data.size()))) + data;
}
std::string entry(int type) { return el("\xAE", el("\xD7", std::string(1, char(1))) + el("\x83", std::string(1, char(type)))); }
const std::string kTracksId = "\x16\x54\xAE\x6B", kClusterId = "\x1F\x43\xB6\x75";
std::string mkv(const std::string &segment) { return el("\x1A\x45\xDF\xA3", el("\x42\x86", "\x01")) + el("\x18\x53\x80\x67", segment, true); }
DeclaredTracks tracksOf(const std::string &b) { return matroskaTracks((const uint8_t *)b.data(), b.size()); }

std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string chunk(const std::string &fourcc, const std::string &data) { return fourcc + le32((uint32_t)data.size()) + data; }
std::string list(const std::string &type, const std::string &children) { return chunk("LIST", type + children); }
std::string strl(const std::string &kind, uint32_t sampleSize)
{
    return list("strl", chunk("strh", kind + std::string(40, '\0') + le32(sampleSize) + std::string(8, '\0')) +
                            chunk("strf", std::string(16, '\0')));
}
std::string avi(uint32_t streams, const std::string &lists)
{
    return "RIFF" + le32(0) + "AVI " + list("hdrl", chunk("avih", std::string(24, '\0') + le32(streams) + std::string(28, '\0')) + lists) +
           list("movi", "");
}
DeclaredTracks aviOf(const std::string &b) { return aviTracks((const uint8_t *)b.data(), b.size()); }

} // namespace

TEST(DeclaredTracks, MatroskaListCountedByKindAndUnknownWhereCutOrOutOfPlace)
{
    const std::string file = mkv(el("\x11\x4D\x9B\x74", "") + el(kTracksId, entry(1) + entry(2)) + el(kClusterId, ""));
    DeclaredTracks t = tracksOf(file);
    EXPECT_TRUE(t.known);
    EXPECT_EQ(t.tracks, 2);
    EXPECT_EQ(t.video, 1);
    EXPECT_EQ(t.audio, 1);
    // A type no one knows: still a track, no longer sound.
    t = tracksOf(mkv(el(kTracksId, entry(1) + entry(0x57))));
    EXPECT_TRUE(t.known);
    EXPECT_EQ(t.tracks, 2);
    EXPECT_EQ(t.audio, 0);
    // Cut inside the list, a list after the first cluster, an entry's size past the list's end.
    EXPECT_FALSE(tracksOf(file.substr(0, file.find(kClusterId) - 3)).known);
    EXPECT_FALSE(tracksOf(mkv(el(kClusterId, "") + el(kTracksId, entry(2)))).known);
    std::string past = mkv(el(kTracksId, entry(1) + entry(2)));
    past[past.rfind('\xAE') + 1] = char(0x80 | 0x7E);
    EXPECT_FALSE(tracksOf(past).known);
    EXPECT_FALSE(tracksOf(file.substr(4)).known);
}

TEST(DeclaredTracks, AviStreamsByHeaderCountOrListsAndTheirSampleSizes)
{
    const std::string file = avi(2, strl("vids", 0) + strl("auds", 4));
    DeclaredTracks t = aviOf(file);
    EXPECT_TRUE(t.known);
    EXPECT_EQ(t.tracks, 2);
    EXPECT_EQ(t.video, 1);
    EXPECT_EQ(t.audio, 1);
    EXPECT_EQ(t.sampleSizes, (std::vector<uint32_t>{0, 4}));
    // The sound's list renamed: the main header still counts it.
    std::string renamed = file;
    renamed[renamed.rfind("strl")] ^= 0x55;
    t = aviOf(renamed);
    EXPECT_EQ(t.tracks, 2);
    EXPECT_EQ(t.audio, 0);
    EXPECT_EQ(t.sampleSizes.size(), 1u);
    // More lists than the main header counts: the lists.
    EXPECT_EQ(aviOf(avi(1, strl("vids", 0) + strl("auds", 0))).tracks, 2);
    // The header cut short is not known.
    EXPECT_FALSE(aviOf(file.substr(0, file.find("movi") - 20)).known);
}
