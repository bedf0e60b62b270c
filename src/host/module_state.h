#ifndef VELVANE_HOST_MODULE_STATE_H
#define VELVANE_HOST_MODULE_STATE_H

#include "pipeline/instance.h"

namespace velvane {

// The one filter instance the plug-in's entry points drive: started by
// initFilter, stopped by exitFilter, one frame per processFrame.
extern FilterInstance moduleInstance;

// The settings window's "Cache Reset" button and its font, from the newest
// window-init message; the font is null again once deleted.
struct SettingsWindowHandles {
    void *cacheResetButton;
    void *cacheResetFont;
};
extern SettingsWindowHandles settingsWindow;

} // namespace velvane

#endif
