// The Windows test host: does with the module what the host application does,
// on a real Windows (or Wine) system, and fails loudly where the module does
// not behave.
//
//   velvane_wintest <module.dll> <frames.out> [<screenshot.png>]
//
// Loads the module, fills the descriptor's host-written fields through the
// embedded host, starts it, opens a 320 x 480 settings window whose messages
// go through the module's window procedure, presses Cache Reset, renders a
// fixed series of frames into <frames.out> (the native build renders the same
// series for comparison), optionally draws the settings window as the host
// shows it and saves a picture of it, and finally unloads the module.
#include <windows.h>
#include <commctrl.h>
#include <xmmintrin.h>

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "embedded_host.h"
#include "frame_sequence.h"
#include "host_report.h"
#include "png_write.h"

// The host reads the descriptor at fixed offsets; this program is built for
// the 32-bit layout as well, where they must hold.
#if defined(__i386__) || defined(_M_IX86)
static_assert(offsetof(FilterDescriptor, trackValues) == 68 && offsetof(FilterDescriptor, checkValues) == 72 &&
                  offsetof(FilterDescriptor, hostServices) == 96 && offsetof(FilterDescriptor, instanceHandle) == 104,
              "host-written fields at the host's offsets");
#endif

using velvane::EmbeddedHost;
using velvane::HostCall;

namespace {

using host_report::fail;
using host_report::failures;
using host_report::say;

// Texts as the module stores them (code page 932).
const char kCacheResetCaption[] = "Cache Reset";
const char kFilterFontFace[] = "\x82l\x82r \x82o\x83S\x83V\x83\x62\x83N"; // ＭＳ Ｐゴシック

// ---------------------------------------------------------------------------
// Exceptions around the module's start. Its processor probes divide by zero
// with the exception unmasked, which faults; the module's own guards must
// catch that. A handler placed after every other one sees what they let through.

volatile LONG watchingExceptions = 0;
volatile LONG escapedExceptions = 0;

LONG CALLBACK noteEscaped(EXCEPTION_POINTERS *info)
{
    if (watchingExceptions) {
        InterlockedIncrement(&escapedExceptions);
        fail("processor exception 0x%08lx escaped the module's guards during initFilter",
             (unsigned long)info->ExceptionRecord->ExceptionCode);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// That the probe's division really faults here: the same division, run by
// this program, with a handler that masks the exception and lets it retry.
volatile LONG ownFaults = 0;
volatile DWORD ownFaultCode = 0;

LONG CALLBACK maskAndRetry(EXCEPTION_POINTERS *info)
{
    if (!watchingExceptions)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&ownFaults);
    ownFaultCode = info->ExceptionRecord->ExceptionCode;
    // Divide by zero masked: the retry gives infinities.
#if defined(_WIN64)
    info->ContextRecord->MxCsr |= 0x0200;
    info->ContextRecord->FltSave.MxCsr |= 0x0200;
#else
    *(DWORD *)(info->ContextRecord->ExtendedRegisters + 24) |= 0x0200; // MXCSR in the FXSAVE image
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool unmaskedDivideFaults(DWORD &code)
{
    alignas(16) static const float numerator[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    alignas(16) static const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    PVOID handler = AddVectoredExceptionHandler(1, maskAndRetry);
    unsigned saved = _mm_getcsr();
    ownFaults = 0;
    watchingExceptions = 1;
    _mm_setcsr(saved & ~0x0200u);
    __asm__ __volatile__("movaps %0, %%xmm0\n\t"
                         "divps %1, %%xmm0"
                         :
                         : "m"(numerator), "m"(zero)
                         : "xmm0", "memory");
    _mm_setcsr(saved);
    watchingExceptions = 0;
    RemoveVectoredExceptionHandler(handler);
    code = ownFaultCode;
    return ownFaults > 0;
}

// ---------------------------------------------------------------------------
// The settings window: every message goes through the module's procedure
// first, as in the host.

FilterDescriptor *filter = nullptr;
struct CommandSeen {
    int count = 0;
    WPARAM wparam = 0;
    int32_t result = -1;
} commandSeen;

LRESULT CALLBACK settingsWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (filter) {
        int32_t r = filter->settingsWindowProc(window, message, wparam, lparam, nullptr, filter);
        if (message == WM_COMMAND) {
            commandSeen.count++;
            commandSeen.wparam = wparam;
            commandSeen.result = r;
        }
        if (message == VV_MSG_WINDOW_INIT || message == VV_MSG_WINDOW_EXIT ||
            (message == WM_COMMAND && LOWORD(wparam) == VV_CACHE_RESET_ID))
            return r;
    }
    if (message == WM_CLOSE)
        return 0;
    return DefWindowProcA(window, message, wparam, lparam);
}

const char kWindowClass[] = "VelvaneTestHostSettings";

HWND openSettingsWindow(HINSTANCE self)
{
    // A fixed-size window with a caption, as a settings dialog is: 320 x 480 outside.
    return CreateWindowExA(0, kWindowClass, "VelvaneNR_SSE", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 40, 40,
                           320, 480, nullptr, nullptr, self, nullptr);
}

void pumpMessages(int milliseconds)
{
    DWORD end = GetTickCount() + (DWORD)milliseconds;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while ((LONG)(GetTickCount() - end) < 0);
}

// Watches the messages the module sends to its own button.
struct ButtonSpy {
    WNDPROC original = nullptr;
    int killFocusNoWindow = 0;
} buttonSpy;

LRESULT CALLBACK spyOnButton(HWND button, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_KILLFOCUS && wparam == 0)
        buttonSpy.killFocusNoWindow++;
    return CallWindowProcA(buttonSpy.original, button, message, wparam, lparam);
}

int countFetches(const EmbeddedHost &host)
{
    return (int)host.requestedFrames().size();
}

std::vector<HostCall::Kind> callKinds(const EmbeddedHost &host)
{
    std::vector<HostCall::Kind> kinds;
    for (const HostCall &c : host.calls)
        kinds.push_back(c.kind);
    return kinds;
}

// Presses Cache Reset the way `press` does and checks what the module did:
// WM_KILLFOCUS sent to its button, isFilterActive asked, the settings window
// refreshed, asked again, and the cache emptied exactly when the host said the
// filter is on.
void checkCacheReset(EmbeddedHost &host, HWND window, HWND button, int32_t active, const char *how,
                     void (*press)(HWND window, HWND button))
{
    std::vector<YcPixel> out(host.frameSamples());
    host.render(4, out.data()); // the cache now holds 3, 4 and 5
    host.clearCalls();
    host.render(4, out.data());
    CHECK(countFetches(host) == 0, "rendering frame 4 twice fetched %d frames the second time (cache not kept)",
          countFetches(host));

    host.filterActive = active;
    host.clearCalls();
    commandSeen = CommandSeen{};
    SetForegroundWindow(window);
    SetFocus(button);
    buttonSpy.killFocusNoWindow = 0;
    press(window, button);
    CHECK(commandSeen.count == 1 && LOWORD(commandSeen.wparam) == VV_CACHE_RESET_ID,
          "%s: the window procedure saw %d WM_COMMAND (identifier %u), expected one for %d", how, commandSeen.count,
          (unsigned)LOWORD(commandSeen.wparam), VV_CACHE_RESET_ID);
    CHECK(commandSeen.result == active, "%s with isFilterActive = %d: settingsWindowProc returned %d", how, active,
          commandSeen.result);
    std::vector<HostCall::Kind> expected = {HostCall::IsFilterActive, HostCall::RefreshSettingsWindow,
                                            HostCall::IsFilterActive};
    CHECK(callKinds(host) == expected,
          "%s: host services called %zu times, expected isFilterActive, refreshSettingsWindow, isFilterActive", how,
          host.calls.size());
    CHECK(buttonSpy.killFocusNoWindow == 1, "%s: the button got %d WM_KILLFOCUS messages (wparam 0), expected 1", how,
          buttonSpy.killFocusNoWindow);

    host.clearCalls();
    host.render(4, out.data());
    int fetched = countFetches(host);
    if (active == 1)
        CHECK(fetched > 0, "%s while the filter is active: the next frame fetched nothing (cache not emptied)", how);
    else
        CHECK(fetched == 0, "%s while the filter is inactive: the next frame fetched %d frames (cache emptied)", how,
              fetched);
    host.filterActive = 1;
}

void pressByClick(HWND, HWND button)
{
    SendMessageA(button, BM_CLICK, 0, 0);
}

void pressWithOtherNotification(HWND window, HWND button)
{
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(VV_CACHE_RESET_ID, BN_DOUBLECLICKED), (LPARAM)button);
}

bool sameLogFont(const LOGFONTA &lf, std::string &why)
{
    char buf[200];
    snprintf(buf, sizeof buf, "height %ld weight %ld charset %d quality %d pitch/family 0x%02x face %s",
             (long)lf.lfHeight, (long)lf.lfWeight, lf.lfCharSet, lf.lfQuality, lf.lfPitchAndFamily,
             strcmp(lf.lfFaceName, kFilterFontFace) == 0 ? "MS P Gothic" : "(other)");
    why = buf;
    return lf.lfHeight == 12 && lf.lfWidth == 0 && lf.lfWeight == 500 && !lf.lfItalic && !lf.lfUnderline &&
           !lf.lfStrikeOut && lf.lfCharSet == SHIFTJIS_CHARSET && lf.lfQuality == PROOF_QUALITY &&
           lf.lfPitchAndFamily == 0x30 && strcmp(lf.lfFaceName, kFilterFontFace) == 0;
}

// Opens the settings window, lets the module add its button, checks it, presses
// it, and closes the window again.
void checkSettingsWindow(EmbeddedHost &host, HINSTANCE self, HMODULE module)
{
    HWND window = openSettingsWindow(self);
    if (!window) {
        fail("could not create the settings window (error %lu)", GetLastError());
        return;
    }
    RECT outer;
    GetWindowRect(window, &outer);
    CHECK(outer.right - outer.left == 320 && outer.bottom - outer.top == 480, "settings window is %ld x %ld",
          outer.right - outer.left, outer.bottom - outer.top);
    ShowWindow(window, SW_SHOWNORMAL);

    LRESULT r = SendMessageA(window, VV_MSG_WINDOW_INIT, 0, 0);
    CHECK(r == 0, "message %d returned %ld", VV_MSG_WINDOW_INIT, (long)r);

    HWND button = FindWindowExA(window, nullptr, "Button", kCacheResetCaption);
    HWND byId = GetDlgItem(window, VV_CACHE_RESET_ID);
    CHECK(button != nullptr, "no child button captioned \"Cache Reset\" after message %d", VV_MSG_WINDOW_INIT);
    CHECK(byId != nullptr && byId == button, "GetDlgItem(%d) does not find the Cache Reset button",
          VV_CACHE_RESET_ID);
    HFONT font = nullptr;
    if (button) {
        char text[64] = "";
        GetWindowTextA(button, text, sizeof text);
        CHECK(strcmp(text, kCacheResetCaption) == 0, "button caption is \"%s\"", text);
        CHECK(GetParent(button) == window, "the button is not a child of the settings window");
        CHECK(GetDlgCtrlID(button) == VV_CACHE_RESET_ID, "button identifier is %d", GetDlgCtrlID(button));
        LONG style = GetWindowLongA(button, GWL_STYLE);
        CHECK((style & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE) && (style & BS_TYPEMASK) == BS_PUSHBUTTON,
              "button style is 0x%08lx", (unsigned long)style);
        CHECK((HMODULE)GetWindowLongPtrA(button, GWLP_HINSTANCE) == module,
              "the button was not created with the module's instance handle");
        RECT br;
        GetWindowRect(button, &br);
        MapWindowPoints(nullptr, window, (POINT *)&br, 2);
        CHECK(br.left == 230 && br.top == 347 && br.right - br.left == 80 && br.bottom - br.top == 18,
              "button at %ld,%ld size %ld x %ld, expected 230,347 size 80 x 18", br.left, br.top, br.right - br.left,
              br.bottom - br.top);

        font = (HFONT)SendMessageA(button, WM_GETFONT, 0, 0);
        LOGFONTA lf = {};
        std::string why;
        CHECK(font != nullptr, "the button has no font (WM_GETFONT returned 0)");
        if (font) {
            CHECK(GetObjectA(font, sizeof lf, &lf) == sizeof lf, "the button's font cannot be read");
            CHECK(sameLogFont(lf, why), "the button's font is not the filter's: %s", why.c_str());
        }

        buttonSpy.original = (WNDPROC)SetWindowLongPtrA(button, GWLP_WNDPROC, (LONG_PTR)spyOnButton);
        checkCacheReset(host, window, button, 0, "BM_CLICK", pressByClick);
        checkCacheReset(host, window, button, 1, "BM_CLICK", pressByClick);
        checkCacheReset(host, window, button, 1, "notification code 5", pressWithOtherNotification);
        checkCacheReset(host, window, button, 0, "notification code 5", pressWithOtherNotification);
    }

    host.clearCalls();
    r = SendMessageA(window, WM_COMMAND, MAKEWPARAM(VV_CACHE_RESET_ID + 1, BN_CLICKED), 0);
    CHECK(r == 0 && host.calls.empty(), "WM_COMMAND %d returned %ld after %zu host calls", VV_CACHE_RESET_ID + 1,
          (long)r, host.calls.size());

    r = SendMessageA(window, VV_MSG_WINDOW_EXIT, 0, 0);
    CHECK(r == 0, "message %d returned %ld", VV_MSG_WINDOW_EXIT, (long)r);
    if (font)
        CHECK(GetObjectType(font) == 0, "the filter's font still exists after message %d", VV_MSG_WINDOW_EXIT);
    DestroyWindow(window);
    pumpMessages(20);
}

// ---------------------------------------------------------------------------
// The settings window as the host draws it, saved as a picture.

std::wstring fromCodePage932(const char *text)
{
    int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0)
        return L"?";
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, &w[0], n);
    w.resize((size_t)n - 1);
    return w;
}

bool captureWindow(HWND window, const std::string &path)
{
    RECT rc;
    GetWindowRect(window, &rc);
    int width = rc.right - rc.left, height = rc.bottom - rc.top;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height; // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    // What is on the screen: the window's own surface, children included.
    BOOL copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    const uint8_t *p = (const uint8_t *)bits;
    for (size_t i = 0; i < (size_t)width * height; i++) {
        rgb[i * 3 + 0] = p[i * 4 + 2];
        rgb[i * 3 + 1] = p[i * 4 + 1];
        rgb[i * 3 + 2] = p[i * 4 + 0];
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, source);
    if (!copied)
        return false;
    return velvane::wintest::writeFile(path, velvane::wintest::encodePng(width, height, rgb));
}

void drawSettingsWindow(HINSTANCE self, const std::string &path)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);

    HWND window = openSettingsWindow(self);
    if (!window) {
        fail("could not create the settings window to draw (error %lu)", GetLastError());
        return;
    }
    HFONT hostFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, PROOF_QUALITY,
                                 FF_MODERN, L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF");
    auto child = [&](const wchar_t *cls, const std::wstring &text, DWORD style, int x, int y, int w, int h, int id) {
        HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, window,
                                 (HMENU)(INT_PTR)id, self, nullptr);
        SendMessageW(c, WM_SETFONT, (WPARAM)hostFont, 0);
        return c;
    };

    // One row per track bar: its label, the slider over its range, its value.
    for (int i = 0; i < filter->trackCount; i++) {
        int y = 6 + i * 21;
        child(L"STATIC", fromCodePage932(filter->trackNames[i]), SS_LEFT, 6, y + 3, 70, 16, 100 + i);
        HWND bar = child(TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_NOTICKS, 76, y, 194, 20, 200 + i);
        SendMessageW(bar, TBM_SETRANGEMIN, TRUE, filter->trackMinima[i]);
        SendMessageW(bar, TBM_SETRANGEMAX, TRUE, filter->trackMaxima[i]);
        // Move the thumb away first: a position that does not change leaves it drawn where it was.
        SendMessageW(bar, TBM_SETPOS, TRUE, filter->trackMaxima[i]);
        SendMessageW(bar, TBM_SETPOS, TRUE, filter->trackValues[i]);
        child(L"STATIC", std::to_wstring(filter->trackValues[i]), SS_RIGHT, 272, y + 3, 32, 16, 300 + i);
    }
    // One check box per check box of the descriptor.
    for (int i = 0; i < filter->checkCount; i++) {
        HWND box = child(L"BUTTON", fromCodePage932(filter->checkNames[i]), BS_AUTOCHECKBOX, 6,
                         6 + filter->trackCount * 21 + 6 + i * 19, 220, 18, 400 + i);
        SendMessageW(box, BM_SETCHECK, filter->checkValues[i] == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    // The filter's own control; a second opening gets a button and font of its own.
    SendMessageA(window, VV_MSG_WINDOW_INIT, 0, 0);
    HWND button = GetDlgItem(window, VV_CACHE_RESET_ID);
    HFONT font = button ? (HFONT)SendMessageA(button, WM_GETFONT, 0, 0) : nullptr;
    CHECK(button != nullptr && font != nullptr, "the reopened settings window has no Cache Reset button with a font");
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpMessages(400);

    if (captureWindow(window, path))
        say("settings window drawn into %s", path.c_str());
    else
        fail("could not save the settings window picture into %s", path.c_str());

    SendMessageA(window, VV_MSG_WINDOW_EXIT, 0, 0);
    if (font)
        CHECK(GetObjectType(font) == 0, "the reopened window's font still exists after message %d",
              VV_MSG_WINDOW_EXIT);
    DestroyWindow(window);
    DeleteObject(hostFont);
    pumpMessages(20);
}

bool anyNonZero(const std::vector<YcPixel> &frame)
{
    for (const YcPixel &p : frame)
        if (p.y || p.cb || p.cr)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    host_report::name = "wintest";
    if (argc < 3) {
        fprintf(stderr, "usage: %s <module.dll> <frames.out> [<screenshot.png>]\n", argv[0]);
        return 2;
    }
    const char *modulePath = argv[1];
    const char *framesPath = argv[2];
    HINSTANCE self = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = settingsWindowProc;
    wc.hInstance = self;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassA(&wc)) {
        fail("RegisterClass failed with error %lu", GetLastError());
        return 1;
    }

    HMODULE module = LoadLibraryA(modulePath);
    if (!module) {
        fail("LoadLibrary(%s) failed with error %lu", modulePath, GetLastError());
        return 1;
    }
    using GetFilterTableFn = FilterDescriptor *(VV_CDECL *)(void);
    auto getFilterTable = (GetFilterTableFn)(void *)GetProcAddress(module, "GetFilterTable");
    if (!getFilterTable) {
        fail("the module exports no GetFilterTable");
        return 1;
    }
    CHECK((void *)GetProcAddress(module, MAKEINTRESOURCEA(1)) == (void *)getFilterTable,
          "export ordinal 1 is not GetFilterTable");

    filter = getFilterTable();
    CHECK(filter != nullptr && filter == getFilterTable(), "GetFilterTable does not return one fixed record");
    if (!filter)
        return 1;
    CHECK(strcmp(filter->name, "VelvaneNR_SSE") == 0 && filter->windowWidth == 320 && filter->windowHeight == 480 &&
              filter->trackCount == VV_TRACK_COUNT && filter->checkCount == VV_CHECK_COUNT,
          "the descriptor's name, window size or counts are not the module's");
    CHECK(filter->trackValues == nullptr && filter->checkValues == nullptr && filter->hostServices == nullptr &&
              filter->instanceHandle == nullptr,
          "the host-written fields are not empty before the host fills them");

    EmbeddedHost host(velvane::wintest::kClipWidth, velvane::wintest::kClipHeight, velvane::wintest::kClipStride,
                      velvane::wintest::kClipMaxHeight);
    host.setClip(velvane::wintest::makeClip());
    host.attach(filter, module);

    // Start: the probes may raise processor exceptions, which the module's
    // own guards must catch; the floating-point control must come back as it was.
    DWORD faultCode = 0;
    if (unmaskedDivideFaults(faultCode))
        say("an unmasked SSE divide by zero faults here (exception 0x%08lx), as in the module's probe",
            (unsigned long)faultCode);
    else
        fail("an unmasked SSE divide by zero does not fault here: the module's guards are not exercised");
    PVOID last = AddVectoredExceptionHandler(0, noteEscaped);
    unsigned mxcsrBefore = _mm_getcsr();
    watchingExceptions = 1;
    int32_t initResult = host.init();
    watchingExceptions = 0;
    unsigned mxcsrAfter = _mm_getcsr();
    RemoveVectoredExceptionHandler(last);
    CHECK(initResult == 1, "initFilter returned %d", initResult);
    CHECK(mxcsrBefore == mxcsrAfter, "MXCSR was 0x%04x before initFilter and 0x%04x after", mxcsrBefore, mxcsrAfter);
    if (escapedExceptions == 0)
        say("initFilter returned with every probe fault caught by the module's guards; MXCSR 0x%04x kept",
            mxcsrAfter);

    // cpuLevel is 2 exactly when frames pass the gate: a frame that passes
    // comes back filtered, one that does not comes back all zero.
    std::vector<YcPixel> first = host.render(1);
    CHECK(anyNonZero(first), "frame 1 came back all zero: the processing gate is closed (cpuLevel is not 2)");

    checkSettingsWindow(host, self, module);
    if (argc > 3)
        drawSettingsWindow(self, argv[3]);

    FILE *out = fopen(framesPath, "wb");
    if (!out) {
        fail("cannot write %s", framesPath);
    } else {
        std::string err = velvane::wintest::renderSeries(host, velvane::wintest::writeToFile, out);
        if (!err.empty())
            fail("%s", err.c_str());
        if (fclose(out) != 0)
            fail("writing %s failed", framesPath);
        else
            say("%d frames written to %s", velvane::wintest::seriesFrameCount(), framesPath);
    }

    int32_t exitResult = host.exit();
    CHECK(exitResult == 1, "exitFilter returned %d", exitResult);
    filter = nullptr;
    char loadedPath[MAX_PATH] = "";
    GetModuleFileNameA(module, loadedPath, sizeof loadedPath);
    CHECK(FreeLibrary(module), "FreeLibrary failed with error %lu", GetLastError());
    CHECK(GetModuleHandleA(loadedPath) == nullptr, "the module is still loaded after FreeLibrary");

    if (failures) {
        say("%d check(s) failed", failures);
        return 1;
    }
    say("all checks passed");
    return 0;
}
