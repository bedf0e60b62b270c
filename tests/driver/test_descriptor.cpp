#include <iconv.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "embedded_host.h"
#include "host/entry_points.h"
#include "velvane/filter.h"

namespace {

// Converts UTF-8 to code page 932 independently of the module's own byte strings.
std::string toCp932(const char *utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    EXPECT_NE(cd, (iconv_t)-1);
    std::string in(utf8), out(in.size() * 2 + 1, '\0');
    char *ip = &in[0], *op = &out[0];
    size_t il = in.size(), ol = out.size();
    EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), (size_t)-1) << utf8;
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

TEST(Descriptor, OneStaticRecordWithTheHostsLayout)
{
    FilterDescriptor *fd = GetFilterTable();
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd, GetFilterTable());

    EXPECT_EQ(fd->flags, 0x00084000);
    EXPECT_EQ(fd->windowWidth, 320);
    EXPECT_EQ(fd->windowHeight, 480);
    EXPECT_STREQ(fd->name, "VelvaneNR_SSE");
    EXPECT_EQ(fd->trackCount, 14);
    EXPECT_EQ(fd->checkCount, 5);
    EXPECT_EQ(fd->processFrame, &velvane::processFrame);
    EXPECT_EQ(fd->initFilter, &velvane::initFilter);
    EXPECT_EQ(fd->exitFilter, &velvane::exitFilter);
    EXPECT_EQ(fd->updateFilter, &velvane::updateFilter);
    EXPECT_EQ(fd->settingsWindowProc, &velvane::settingsWindowProc);
    ASSERT_NE(fd->informationText, nullptr);
    EXPECT_EQ(strncmp(fd->informationText, "VelvaneNR_SSE", 13), 0);

    // Everything else is zero as the module provides it.
    EXPECT_EQ(fd->reserved76, nullptr);
    EXPECT_EQ(fd->reserved80, nullptr);
    EXPECT_EQ(fd->reserved88, nullptr);
    EXPECT_EQ(fd->reserved92, nullptr);
    EXPECT_EQ(fd->reserved100, nullptr);
    for (int32_t word : fd->reserved108)
        EXPECT_EQ(word, 0);
}

TEST(Descriptor, SettingsTablesAsDeclared)
{
    const FilterDescriptor *fd = GetFilterTable();
    struct Track {
        const char *label;
        int32_t def, lo, hi;
    } const tracks[14] = {
        {"輝度L", 10, 0, 20},    {"輝度H", 10, 0, 20},     {"色L", 10, 0, 20},      {"色H", 10, 0, 20},
        {"GainY", 0, -50, 50},   {"GainCb", 0, -100, 100}, {"GainCr", 0, -100, 100}, {"OfsY", 0, -50, 50},
        {"色相", 0, -30, 30},    {"色ﾊﾞﾗﾝｽ", 0, -30, 30},  {"黒ﾍﾞﾀ上", 0, 0, 100},  {"黒ﾍﾞﾀ下", 0, 0, 100},
        {"黒ﾍﾞﾀ左", 0, 0, 50},   {"黒ﾍﾞﾀ右", 0, 0, 50},
    };
    for (int i = 0; i < 14; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(fd->trackNames[i]), toCp932(tracks[i].label));
        EXPECT_EQ(fd->trackDefaults[i], tracks[i].def);
        EXPECT_EQ(fd->trackMinima[i], tracks[i].lo);
        EXPECT_EQ(fd->trackMaxima[i], tracks[i].hi);
    }
    // Half-width katakana stay single-byte: "色ﾊﾞﾗﾝｽ" is one double-byte kanji and five bytes.
    EXPECT_EQ(strlen(fd->trackNames[9]), 7u);

    const char *checks[5] = {"ドット妨害低減", "411→422補間", "前フレームHは参照しない", "周囲黒ベタ",
                             "黒ベタはCCIR601"};
    const int32_t checkDefaults[5] = {1, 1, 0, 0, 1};
    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string(fd->checkNames[i]), toCp932(checks[i]));
        EXPECT_EQ(fd->checkDefaults[i], checkDefaults[i]);
    }
}

TEST(Descriptor, HostWrittenFieldsAreFilledByTheHost)
{
    FilterDescriptor *fd = GetFilterTable();
    velvane::EmbeddedHost host(8, 8);
    int instance;
    host.attach(fd, &instance);
    EXPECT_EQ(fd->trackValues, host.track);
    EXPECT_EQ(fd->checkValues, host.check);
    EXPECT_NE(fd->hostServices, nullptr);
    EXPECT_EQ(fd->instanceHandle, &instance);
    // The defaults as loaded.
    const int32_t tracks[14] = {10, 10, 10, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const int32_t checks[5] = {1, 1, 0, 0, 1};
    EXPECT_EQ(memcmp(host.track, tracks, sizeof tracks), 0);
    EXPECT_EQ(memcmp(host.check, checks, sizeof checks), 0);
}

} // namespace
