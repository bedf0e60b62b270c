// The settings window's operations on Windows: the system's own.
#include "os/window_ops.h"

#include <windows.h>

namespace velvane {

void *createWindowEx(uint32_t exStyle, const char *className, const char *windowName, uint32_t style, int32_t x,
                     int32_t y, int32_t width, int32_t height, void *parent, void *menu, void *instance, void *param)
{
    return CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, (HWND)parent, (HMENU)menu,
                           (HINSTANCE)instance, param);
}

void *createFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation, int32_t weight,
                 uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet, uint32_t outPrecision,
                 uint32_t clipPrecision, uint32_t quality, uint32_t pitchAndFamily, const char *faceName)
{
    return CreateFontA(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                       outPrecision, clipPrecision, quality, pitchAndFamily, faceName);
}

intptr_t sendMessage(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return SendMessageA((HWND)window, message, (WPARAM)wparam, (LPARAM)lparam);
}

int32_t deleteObject(void *object)
{
    return DeleteObject((HGDIOBJ)object);
}

} // namespace velvane
