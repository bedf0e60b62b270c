#ifndef VELVANE_OS_WINDOW_OPS_H
#define VELVANE_OS_WINDOW_OPS_H

#include <stddef.h>
#include <stdint.h>

#if !defined(_WIN32)
#include <string>
#include <vector>
#endif

namespace velvane {

// The four window and graphics operations the settings window needs, with the
// arguments of CreateWindowExA, CreateFontA, SendMessageA and DeleteObject.
// On Windows they are those functions; elsewhere a recording stand-in.
void *createWindowEx(uint32_t exStyle, const char *className, const char *windowName, uint32_t style, int32_t x,
                     int32_t y, int32_t width, int32_t height, void *parent, void *menu, void *instance, void *param);
void *createFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation, int32_t weight,
                 uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet, uint32_t outPrecision,
                 uint32_t clipPrecision, uint32_t quality, uint32_t pitchAndFamily, const char *faceName);
intptr_t sendMessage(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam);
int32_t deleteObject(void *object);

constexpr uint32_t kWmKillFocus = 8;
constexpr uint32_t kWmSetFont = 48;
constexpr uint32_t kWmCommand = 273;

#if !defined(_WIN32)
// Without a window system the operations are recorded, with every argument
// (texts copied byte for byte), and each creation hands out a handle no
// other call has returned.
struct WindowCall {
    enum Kind { CreateWindowEx, CreateFont, SendMessage, DeleteObject } kind;
    void *result;

    // CreateWindowEx
    uint32_t exStyle;
    bool hasClassName, hasWindowName;
    std::string className, windowName;
    uint32_t style;
    int32_t x, y, width, height;
    void *parent, *menu, *instance, *param;

    // CreateFont: height, width, escapement, orientation, weight, italic,
    // underline, strike-out, character set, output precision, clipping
    // precision, quality, pitch and family; then the face name.
    int64_t fontArgs[13];
    bool hasFaceName;
    std::string faceName;

    // SendMessage
    void *window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;

    // DeleteObject
    void *object;
};

const std::vector<WindowCall> &recordedWindowCalls();
void clearRecordedWindowCalls();
// Fonts created and not yet deleted.
size_t liveRecordedFonts();
#endif

} // namespace velvane

#endif
