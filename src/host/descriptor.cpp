// The module's one export and the record it returns. Texts are Shift-JIS
// (code page 932) byte strings, as the host reads them; half-width katakana
// stay single-byte.
#include "host/entry_points.h"

namespace velvane {
namespace {

const char *const trackNames[VV_TRACK_COUNT] = {
    "\x8BP\x93xL",                      // 輝度L
    "\x8BP\x93xH",                      // 輝度H
    "\x90\x46L",                        // 色L
    "\x90\x46H",                        // 色H
    "GainY",
    "GainCb",
    "GainCr",
    "OfsY",
    "\x90\x46\x91\x8A",                 // 色相
    "\x90\x46\xCA\xDE\xD7\xDD\xBD",     // 色ﾊﾞﾗﾝｽ
    "\x8D\x95\xCD\xDE\xC0\x8F\xE3",     // 黒ﾍﾞﾀ上
    "\x8D\x95\xCD\xDE\xC0\x89\xBA",     // 黒ﾍﾞﾀ下
    "\x8D\x95\xCD\xDE\xC0\x8D\xB6",     // 黒ﾍﾞﾀ左
    "\x8D\x95\xCD\xDE\xC0\x89\x45",     // 黒ﾍﾞﾀ右
};
const char *const checkNames[VV_CHECK_COUNT] = {
    "\x83h\x83\x62\x83g\x96W\x8AQ\x92\xE1\x8C\xB8",                                 // ドット妨害低減
    "411\x81\xA8\x34\x32\x32\x95\xE2\x8A\xD4",                                      // 411→422補間
    "\x91O\x83t\x83\x8C\x81[\x83\x80H\x82\xCD\x8EQ\x8F\xC6\x82\xB5\x82\xC8\x82\xA2", // 前フレームHは参照しない
    "\x8E\xFC\x88\xCD\x8D\x95\x83x\x83^",                                            // 周囲黒ベタ
    "\x8D\x95\x83x\x83^\x82\xCD\x43\x43IR601",                                      // 黒ベタはCCIR601
};
const char informationText[] = "VelvaneNR_SSE version 0.1.0 by the Velvane team";

FilterDescriptor descriptor = {
    0x00084000,                     // flags
    320, 480,                       // settings window
    "VelvaneNR_SSE",                // display name
    VV_TRACK_COUNT, trackNames, kTrackDefaults, kTrackMinima, kTrackMaxima,
    VV_CHECK_COUNT, checkNames, kCheckDefaults,
    processFrame, initFilter, exitFilter, updateFilter, settingsWindowProc,
    nullptr, nullptr,               // trackValues, checkValues: host-written
    nullptr, nullptr,
    informationText,
    nullptr, nullptr,
    nullptr,                        // HostServices: host-written
    nullptr,
    nullptr,                        // instance handle: host-written
    {},
};

} // namespace
} // namespace velvane

extern "C" VV_EXPORT FilterDescriptor *VV_CDECL GetFilterTable(void)
{
    return &velvane::descriptor;
}
