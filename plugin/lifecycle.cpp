// init, config and quit, as Winamp calls them on its user-interface thread.
#include "common/version.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"
#include "core/winamp_window.h"
#include "plugin/plugin.h"
#include "plugin/target_lastfm.h"
#include "plugin/target_listenbrainz.h"
#include "plugin/update_cycle.h"
#include "plugin/winamp_menu.h"
#include "ui/options_dialog.h"
#include "ui/settings_dialog.h"

namespace nimbo {

namespace {
UINT gTimerId = 0;

// The options window's "Connect...", in the window's own terms (ui/ does not see net/).
ConnectResult connectForWindow(const std::wstring& server, const std::wstring& key,
                               const std::wstring& secret,
                               FunctionRef<void(const std::wstring&)> said,
                               FunctionRef<void(const std::wstring&)> showPage,
                               const std::atomic<bool>& stop) {
    const LastFmConnection c = connectLastFm(server, key, secret, said, showPage, stop);
    return {c.ok, c.session, c.user, c.words};
}
}  // namespace

PluginRecord gPluginRecord = {
    16, "Vkontakte Nimbo v" NIMBO_VERSION, init, config, quit, nullptr, nullptr};

int init() {
    try {
        securityCodePending = false;
        settingsDialogOpen = false;
        activityHash.clear();
        setLogActivityHash(activityHash);
        lastTrackFile.clear();
        lastStreamTitle.clear();
        resetLastResult();
        // The host wrote its main window into the record just before init; the ini
        // query, the probe and the menu all ask that one.
        setWinampWindow(gPluginRecord.hwndParent);
        loadSettings();
        setTokenCheck(checkListenBrainzToken);
        setListensCount(listensWaiting);
        setLastFmConnect(connectForWindow);
        setScrobblesCount(scrobblesWaiting);
        setQueueDrops(dropListens, dropScrobbles);
        setLastFmName(lastFmAccountName);
        gTimerId = startUpdateTimer();
        installWinampMenu(winampWindow(), publishingSwitched);
    } catch (...) {
        // Nothing may escape into Winamp; without a timer the plugin simply stays idle.
    }
    return 0;
}

void config() {
    showSettingsDialog(publishingSwitched);
}

void quit() {
    try {
        removeWinampMenu();
        const bool tickEnded = stopUpdateTimer(gTimerId);
        gTimerId = 0;
        saveSettings();
        clearAtQuit();
        // After the clear, which an open settings window holds back. Its unconfirmed
        // edits are dropped with it.
        closeWindowsAtQuit();
        // Code of ours could still run after the host unloads the library: a tick stuck
        // past quit's wait, or a window procedure of ours below this call.
        if (!tickEnded || ourCodeRunning()) pinThisModule();
    } catch (...) {
    }
}

}  // namespace nimbo
