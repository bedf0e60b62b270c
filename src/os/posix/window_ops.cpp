// The settings window's operations where there is no window system: each call
// is recorded with its arguments, so that tests can see what a Windows build
// would have asked of the system.
#include "os/window_ops.h"

#include <set>

namespace velvane {
namespace {

std::vector<WindowCall> calls;
std::set<void *> liveFonts;
uintptr_t nextHandle = 0x10000;

void *newHandle()
{
    nextHandle += 0x10;
    return reinterpret_cast<void *>(nextHandle);
}

WindowCall blankCall(WindowCall::Kind kind)
{
    WindowCall c{};
    c.kind = kind;
    return c;
}

} // namespace

void *createWindowEx(uint32_t exStyle, const char *className, const char *windowName, uint32_t style, int32_t x,
                     int32_t y, int32_t width, int32_t height, void *parent, void *menu, void *instance, void *param)
{
    WindowCall c = blankCall(WindowCall::CreateWindowEx);
    c.exStyle = exStyle;
    c.hasClassName = className != nullptr;
    c.className = className ? className : "";
    c.hasWindowName = windowName != nullptr;
    c.windowName = windowName ? windowName : "";
    c.style = style;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    c.parent = parent;
    c.menu = menu;
    c.instance = instance;
    c.param = param;
    c.result = newHandle();
    calls.push_back(c);
    return c.result;
}

void *createFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation, int32_t weight,
                 uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet, uint32_t outPrecision,
                 uint32_t clipPrecision, uint32_t quality, uint32_t pitchAndFamily, const char *faceName)
{
    WindowCall c = blankCall(WindowCall::CreateFont);
    const int64_t args[13] = {height,    width,        escapement,    orientation, weight,
                              italic,    underline,    strikeOut,     charSet,     outPrecision,
                              clipPrecision, quality, pitchAndFamily};
    for (int i = 0; i < 13; ++i)
        c.fontArgs[i] = args[i];
    c.hasFaceName = faceName != nullptr;
    c.faceName = faceName ? faceName : "";
    c.result = newHandle();
    liveFonts.insert(c.result);
    calls.push_back(c);
    return c.result;
}

intptr_t sendMessage(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    WindowCall c = blankCall(WindowCall::SendMessage);
    c.window = window;
    c.message = message;
    c.wparam = wparam;
    c.lparam = lparam;
    calls.push_back(c);
    return 0;
}

int32_t deleteObject(void *object)
{
    WindowCall c = blankCall(WindowCall::DeleteObject);
    c.object = object;
    // As the system does: nonzero only for an object that exists.
    c.result = reinterpret_cast<void *>((uintptr_t)liveFonts.erase(object));
    calls.push_back(c);
    return c.result != nullptr;
}

const std::vector<WindowCall> &recordedWindowCalls() { return calls; }

void clearRecordedWindowCalls() { calls.clear(); }

size_t liveRecordedFonts() { return liveFonts.size(); }

} // namespace velvane
