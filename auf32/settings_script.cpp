#include "settings_script.h"

#include <stdarg.h>
#include <stdio.h>

#include <map>

#include "os/window_ops.h"

namespace velvane {
namespace auf32 {

namespace {

void *const kWindow = (void *)(uintptr_t)0x5e770;

struct Transcript {
    std::string text;
    std::map<uintptr_t, std::string> names; // handles by what they are
    int buttons = 0, fonts = 0;
    size_t windowCallsSeen = 0;

    void line(const char *fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char buf[512];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        text += buf;
        text += '\n';
    }

    std::string handle(const void *p)
    {
        auto it = names.find((uintptr_t)p);
        if (it != names.end())
            return it->second;
        char buf[24];
        snprintf(buf, sizeof buf, "0x%llx", (unsigned long long)(uintptr_t)p);
        return buf;
    }

    static std::string quoted(bool present, const std::string &s)
    {
        if (!present)
            return "null";
        std::string q = "\"";
        for (unsigned char c : s) {
            char buf[8];
            snprintf(buf, sizeof buf, c >= 0x20 && c < 0x7f && c != '\\' && c != '"' ? "%c" : "\\x%02x", c);
            q += buf;
        }
        return q + "\"";
    }

    void windowCalls()
    {
        const std::vector<WindowCall> &calls = recordedWindowCalls();
        for (; windowCallsSeen < calls.size(); windowCallsSeen++) {
            const WindowCall &c = calls[windowCallsSeen];
            switch (c.kind) {
            case WindowCall::CreateWindowEx:
                names[(uintptr_t)c.result] = "window" + std::to_string(++buttons);
                line("  CreateWindowExA(%u, %s, %s, 0x%08x, %d, %d, %d, %d, %s, %llu, %s, %s) -> %s", c.exStyle,
                     quoted(c.hasClassName, c.className).c_str(), quoted(c.hasWindowName, c.windowName).c_str(),
                     c.style, c.x, c.y, c.width, c.height, handle(c.parent).c_str(),
                     (unsigned long long)(uintptr_t)c.menu, handle(c.instance).c_str(), handle(c.param).c_str(),
                     handle(c.result).c_str());
                break;
            case WindowCall::CreateFont: {
                names[(uintptr_t)c.result] = "font" + std::to_string(++fonts);
                std::string args;
                for (int64_t a : c.fontArgs)
                    args += std::to_string(a) + ", ";
                line("  CreateFontA(%s%s) -> %s", args.c_str(), quoted(c.hasFaceName, c.faceName).c_str(),
                     handle(c.result).c_str());
                break;
            }
            case WindowCall::SendMessage:
                line("  SendMessageA(%s, %u, %s, %lld)", handle(c.window).c_str(), c.message,
                     handle((void *)c.wparam).c_str(), (long long)c.lparam);
                break;
            case WindowCall::DeleteObject:
                line("  DeleteObject(%s) -> %d", handle(c.object).c_str(), c.result ? 1 : 0);
                break;
            }
        }
    }

    void hostCalls(EmbeddedHost &host)
    {
        static const char *const kinds[] = {"refreshSettingsWindow", "isFilterActive", "setFrameCacheSize",
                                            "getCachedFrame"};
        for (const HostCall &c : host.calls) {
            if (c.kind == HostCall::SetFrameCacheSize)
                line("  host %s(%d, %d, %d, %d)", kinds[c.kind], c.args[0], c.args[1], c.args[2], c.args[3]);
            else if (c.kind == HostCall::GetCachedFrame)
                line("  host %s(%d)", kinds[c.kind], c.args[0]);
            else
                line("  host %s()", kinds[c.kind]);
        }
        host.clearCalls();
    }
};

} // namespace

std::string playSettingsWindow(EmbeddedHost &host)
{
    Transcript t;
    t.names[0] = "0";
    t.names[(uintptr_t)kWindow] = "settings-window";
    t.names[(uintptr_t)host.descriptor()->instanceHandle] = "instance";
    t.windowCallsSeen = recordedWindowCalls().size();
    std::vector<YcPixel> out(host.frameSamples());

    auto message = [&](uint32_t msg, uintptr_t wparam, intptr_t lparam) {
        host.clearCalls();
        int32_t r = host.windowMessage(kWindow, msg, wparam, lparam);
        t.line("message %u wparam 0x%llx lparam %s -> %d", msg, (unsigned long long)wparam,
               t.handle((void *)lparam).c_str(), r);
        t.windowCalls();
        t.hostCalls(host);
    };
    auto render = [&](int32_t n) {
        host.clearCalls();
        int32_t r = host.render(n, out.data());
        t.line("frame %d -> %d", n, r);
        t.hostCalls(host);
    };

    const uint32_t kClicked = 0, kDoubleClicked = 5;
    message(VV_MSG_WINDOW_INIT, 0, 0);
    render(4);
    render(4);
    for (int32_t active : {1, 0}) {
        for (uint32_t code : {kClicked, kDoubleClicked}) {
            host.filterActive = active;
            t.line("isFilterActive answers %d", active);
            message(kWmCommand, (code << 16) | VV_CACHE_RESET_ID, 0);
            render(4);
        }
    }
    host.filterActive = 1;
    message(kWmCommand, VV_CACHE_RESET_ID + 1, 0);
    message(15 /* WM_PAINT */, 0, 0);
    message(VV_MSG_WINDOW_EXIT, 0, 0);
    message(VV_MSG_WINDOW_EXIT, 0, 0);
    message(VV_MSG_WINDOW_INIT, 0, 0);
    message(VV_MSG_WINDOW_EXIT, 0, 0);
    t.line("fonts left: %zu", liveRecordedFonts());
    return t.text;
}

} // namespace auf32
} // namespace velvane
