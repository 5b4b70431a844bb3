// init, config and quit, as Winamp calls them on its user-interface thread.
#include "common/version.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"
#include "plugin/plugin.h"
#include "plugin/update_cycle.h"
#include "plugin/winamp_menu.h"
#include "ui/settings_dialog.h"

namespace nimbo {

namespace {
UINT gTimerId = 0;
}

PluginRecord gPluginRecord = {16, "Vkontakte Nimbo v" NIMBO_VERSION, init, config, quit, nullptr,
                              nullptr};

int init() {
    try {
        securityCodePending = false;
        settingsDialogOpen = false;
        activityHash.clear();
        lastTrackFile.clear();
        lastStreamTitle.clear();
        resetLastResult();
        editSettings([](Settings& s) { s.NoLogin = false; });
        loadSettings();
        gTimerId = startUpdateTimer();
        // The host wrote its main window into the record just before init.
        installWinampMenu(gPluginRecord.hwndParent, publishingSwitched);
    } catch (...) {
        // Nothing may escape into Winamp; without a timer the plugin simply stays idle.
    }
    return 0;
}

void config() { showSettingsDialog(publishingSwitched); }

void quit() {
    try {
        removeWinampMenu();
        stopUpdateTimer(gTimerId);
        gTimerId = 0;
        saveSettings();
        clearAtQuit();
    } catch (...) {
    }
}

}  // namespace nimbo
