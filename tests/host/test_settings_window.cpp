// The settings window procedure: the Cache Reset button, its font, and what a
// press does to the band cache. Where there is no window system the window
// operations are recorded, so every argument can be checked.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/entry_points.h"
#include "host/module_state.h"
#include "os/window_ops.h"
#include "pipeline/band_cache.h"

namespace {

using velvane::moduleInstance;

using velvane::WindowCall;
using Tags = std::vector<int32_t>;

// A host whose isFilterActive answers from a script, one answer per call.
struct ScriptedHost {
    std::vector<int32_t> activeAnswers;
    size_t activeCalls = 0;
    std::vector<std::string> calls;
};
ScriptedHost *scriptedHost = nullptr;

int32_t VV_CDECL isFilterActive(FilterDescriptor *fd)
{
    scriptedHost->calls.push_back(fd ? "active" : "active(null)");
    const size_t i = scriptedHost->activeCalls++;
    return i < scriptedHost->activeAnswers.size() ? scriptedHost->activeAnswers[i] : scriptedHost->activeAnswers.back();
}

int32_t VV_CDECL refreshSettingsWindow(FilterDescriptor *fd)
{
    scriptedHost->calls.push_back(fd ? "refresh" : "refresh(null)");
    return 1;
}

void *const kWindow = reinterpret_cast<void *>(0x7700);
void *const kInstance = reinterpret_cast<void *>(0x400000);

class SettingsWindow : public ::testing::Test {
protected:
    ScriptedHost host;
    HostServices services = {};
    FilterDescriptor fd = {};

    void SetUp() override
    {
        scriptedHost = &host;
        host.activeAnswers = {1};
        services.isFilterActive = isFilterActive;
        services.refreshSettingsWindow = refreshSettingsWindow;
        fd.hostServices = &services;
        fd.instanceHandle = kInstance;
        velvane::settingsWindow = {};
        velvane::clearRecordedWindowCalls();
        setTags({10, 11, 7, 8, 9});
    }
    void TearDown() override
    {
        velvane::invalidateBandCache(moduleInstance.cache);
        scriptedHost = nullptr;
    }
    void setTags(const Tags &t)
    {
        for (int s = 0; s < velvane::kCacheSlots; ++s)
            moduleInstance.cache.slotTag[s] = t[s];
    }
    Tags tags() const { return {moduleInstance.cache.slotTag, moduleInstance.cache.slotTag + velvane::kCacheSlots}; }
    int32_t send(uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0)
    {
        return velvane::settingsWindowProc(kWindow, message, wparam, lparam, reinterpret_cast<void *>(0x5555), &fd);
    }
    const std::vector<WindowCall> &calls() const { return velvane::recordedWindowCalls(); }
    std::vector<WindowCall> callsOf(WindowCall::Kind kind) const
    {
        std::vector<WindowCall> r;
        for (const WindowCall &c : calls())
            if (c.kind == kind)
                r.push_back(c);
        return r;
    }
};

TEST_F(SettingsWindow, InitCreatesTheButtonAndItsFont)
{
    EXPECT_EQ(send(1127), 0);
    ASSERT_EQ(calls().size(), 3u);

    const WindowCall &button = calls()[0];
    ASSERT_EQ(button.kind, WindowCall::CreateWindowEx);
    EXPECT_EQ(button.exStyle, 0u);
    EXPECT_TRUE(button.hasClassName);
    EXPECT_EQ(button.className, "BUTTON");
    EXPECT_TRUE(button.hasWindowName);
    EXPECT_EQ(button.windowName, "Cache Reset");
    EXPECT_EQ(button.style, 0x50000000u);
    EXPECT_EQ(button.x, 230);
    EXPECT_EQ(button.y, 347);
    EXPECT_EQ(button.width, 80);
    EXPECT_EQ(button.height, 18);
    EXPECT_EQ(button.parent, kWindow);
    EXPECT_EQ((uintptr_t)button.menu, 40001u);
    EXPECT_EQ(button.instance, kInstance);
    EXPECT_EQ(button.param, nullptr);

    const WindowCall &font = calls()[1];
    ASSERT_EQ(font.kind, WindowCall::CreateFont);
    const int64_t expected[13] = {12, 0, 0, 0, 500, 0, 0, 0, 128, 0, 0, 2, 48};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(font.fontArgs[i], expected[i]) << "argument " << i;
    EXPECT_TRUE(font.hasFaceName);
    // ＭＳ Ｐゴシック in code page 932
    EXPECT_EQ(font.faceName, std::string("\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E"));

    const WindowCall &setFont = calls()[2];
    ASSERT_EQ(setFont.kind, WindowCall::SendMessage);
    EXPECT_EQ(setFont.window, button.result);
    EXPECT_EQ(setFont.message, 48u);
    EXPECT_EQ(setFont.wparam, (uintptr_t)font.result);
    EXPECT_EQ(setFont.lparam, 0);

    EXPECT_NE(button.result, font.result);
    EXPECT_EQ(velvane::settingsWindow.cacheResetButton, button.result);
    EXPECT_EQ(velvane::settingsWindow.cacheResetFont, font.result);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(tags(), (Tags{10, 11, 7, 8, 9}));
}

TEST_F(SettingsWindow, InstanceHandleIsReadFromTheDescriptorEachTime)
{
    send(1127);
    fd.instanceHandle = reinterpret_cast<void *>(0x10000000);
    send(1127);
    const std::vector<WindowCall> buttons = callsOf(WindowCall::CreateWindowEx);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].instance, kInstance);
    EXPECT_EQ(buttons[1].instance, reinterpret_cast<void *>(0x10000000));
}

TEST_F(SettingsWindow, ExitDeletesTheFont)
{
    const size_t liveBefore = velvane::liveRecordedFonts();
    send(1127);
    EXPECT_EQ(velvane::liveRecordedFonts(), liveBefore + 1);
    void *font = calls()[1].result;
    velvane::clearRecordedWindowCalls();
    EXPECT_EQ(send(1128), 0);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].kind, WindowCall::DeleteObject);
    EXPECT_EQ(calls()[0].object, font);
    EXPECT_EQ(velvane::liveRecordedFonts(), liveBefore);
}

TEST_F(SettingsWindow, RepeatedOpenAndCloseKeepsTheNewestHandles)
{
    const size_t liveBefore = velvane::liveRecordedFonts();
    for (int round = 0; round < 3; ++round) {
        velvane::clearRecordedWindowCalls();
        send(1127);
        void *button = calls()[0].result, *font = calls()[1].result;
        EXPECT_EQ(velvane::settingsWindow.cacheResetButton, button);
        EXPECT_EQ(velvane::settingsWindow.cacheResetFont, font);

        // A press while open talks to this window's button.
        send(273, 40001);
        const std::vector<WindowCall> sent = callsOf(WindowCall::SendMessage);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[1].window, button);
        EXPECT_EQ(sent[1].message, 8u);
        EXPECT_EQ(sent[1].wparam, 0u);
        EXPECT_EQ(sent[1].lparam, 0);

        send(1128);
        const std::vector<WindowCall> deleted = callsOf(WindowCall::DeleteObject);
        ASSERT_EQ(deleted.size(), 1u);
        EXPECT_EQ(deleted[0].object, font);
    }
    EXPECT_EQ(velvane::liveRecordedFonts(), liveBefore);
}

TEST_F(SettingsWindow, SecondOpenReplacesTheHandlesAndCloseDeletesTheCurrentFont)
{
    send(1127);
    send(1127);
    const std::vector<WindowCall> fonts = callsOf(WindowCall::CreateFont);
    const std::vector<WindowCall> buttons = callsOf(WindowCall::CreateWindowEx);
    ASSERT_EQ(fonts.size(), 2u);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_NE(fonts[0].result, fonts[1].result);
    EXPECT_NE(buttons[0].result, buttons[1].result);
    EXPECT_EQ(velvane::settingsWindow.cacheResetButton, buttons[1].result);
    send(1128);
    const std::vector<WindowCall> deleted = callsOf(WindowCall::DeleteObject);
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].object, fonts[1].result);
}

TEST_F(SettingsWindow, FontIsDeletedOnlyOnce)
{
    // The system may give a deleted handle to another object; deleting it
    // again could destroy something that is not ours.
    send(1127);
    send(1128);
    send(1128);
    EXPECT_EQ(callsOf(WindowCall::DeleteObject).size(), 1u);
    EXPECT_EQ(velvane::settingsWindow.cacheResetFont, nullptr);
}

TEST_F(SettingsWindow, CacheResetWhileActiveEmptiesEveryTag)
{
    send(1127);
    void *button = calls()[0].result;
    velvane::clearRecordedWindowCalls();

    EXPECT_EQ(send(273, 40001), 1);
    EXPECT_EQ(tags(), Tags(5, -1));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"active", "refresh", "active"}));
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].kind, WindowCall::SendMessage);
    EXPECT_EQ(calls()[0].window, button);
    EXPECT_EQ(calls()[0].message, 8u);
}

TEST_F(SettingsWindow, FirstAnswerDecidesTheResetAndTheSecondIsReturned)
{
    const struct {
        int32_t first, second;
        bool emptied;
    } cases[] = {{0, 0, false}, {2, 2, false}, {-1, -1, false}, {1, 0, true}, {0, 1, false}};
    for (const auto &c : cases) {
        setTags({10, 11, 7, 8, 9});
        host.activeAnswers = {c.first, c.second};
        host.activeCalls = 0;
        host.calls.clear();
        EXPECT_EQ(send(273, 40001), c.second) << c.first << " " << c.second;
        EXPECT_EQ(tags(), c.emptied ? Tags(5, -1) : (Tags{10, 11, 7, 8, 9})) << c.first << " " << c.second;
        // The window is refreshed whatever the answer.
        EXPECT_EQ(host.calls, (std::vector<std::string>{"active", "refresh", "active"}));
    }
}

TEST_F(SettingsWindow, NotificationCodeInTheHighWordIsIgnored)
{
    for (uintptr_t code : {0x0001u, 0x0005u, 0xFFFFu}) {
        setTags({10, 11, 7, 8, 9});
        EXPECT_EQ(send(273, (code << 16) | 40001u), 1) << code;
        EXPECT_EQ(tags(), Tags(5, -1)) << code;
    }
}

TEST_F(SettingsWindow, OtherCommandsAndMessagesDoNothing)
{
    const struct {
        uint32_t message;
        uintptr_t wparam;
    } others[] = {
        {273, 40000}, {273, 40002}, {273, 0}, {273, 0x9C41u ^ 0x8000u}, // other controls
        {0, 40001},   {1, 0},       {15, 0},  {1126, 0},  {1129, 0},     // other messages
        {274, 40001}, {0x10111u, 40001},                                 // near misses of WM_COMMAND
    };
    for (const auto &m : others) {
        EXPECT_EQ(send(m.message, m.wparam), 0) << m.message << " " << m.wparam;
    }
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(tags(), (Tags{10, 11, 7, 8, 9}));
}

} // namespace
