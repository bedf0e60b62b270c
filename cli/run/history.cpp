#include "run/history.h"

#include <stdio.h>

#include "run/options.h"

namespace velvane {

std::string sceneOptions(const SceneChoice &c)
{
    const VelvaneStrengthReport &r = c.strength;
    const int thresholds[kThresholdCount] = {r.luma_low, r.luma_high, r.chroma_low, r.chroma_high};
    std::string options;
    for (int i = 0; i < kThresholdCount; i++)
        options += trackOptionName(i) + (" " + std::to_string(thresholds[i])) + " ";
    options += r.dot_removal ? checkOptionName(0) : checkOffOptionName(0);
    const int32_t moving[3] = {c.moving.luma_low, c.moving.luma_high, c.moving.change};
    const std::string m = movingOption(moving, VELVANE_STRENGTH_CUSTOM); // nothing where it is off
    return m.empty() ? options : options + " " + m;
}

std::string sceneLine(const SceneChoice &c)
{
    const VelvaneStrengthReport &r = c.strength;
    char line[160];
    snprintf(line, sizeof line, "frame %lld: noise %.2f luma %.2f chroma, dots %.0f%%, ", (long long)r.measured_at,
             r.luma_noise, r.chroma_noise, 100.0 * r.dot_share);
    return line + sceneOptions(c);
}

std::string settingsOptions(const int32_t *track, const int32_t *check, int strength, const int32_t *moving)
{
    std::string s;
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        if (track[i] != VELVANE_FROM_STRENGTH)
            s += std::string(s.empty() ? "" : " ") + trackOptionName(i) + " " + std::to_string(track[i]);
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        if (check[i] != VELVANE_FROM_STRENGTH)
            s += std::string(" ") + (check[i] ? checkOptionName(i) : checkOffOptionName(i));
    const std::string m = movingOption(moving, strength);
    if (!m.empty())
        s += " " + m;
    if (strength > VELVANE_STRENGTH_CUSTOM && strength <= VELVANE_STRENGTH_AUTO)
        s += " --" + std::string(strengthInfo().option) + " " + choiceName(strengthInfo(), strength);
    return s;
}

} // namespace velvane
