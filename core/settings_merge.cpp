#include "core/settings_merge.h"

namespace nimbo {

Settings settingsOnOk(const Settings& atOpen, const Settings& now,
                      const SettingsWindowValues& window, const SettingsWindowEdits& edited) {
    const bool modeChanged = window.NoLogin != atOpen.NoLogin;
    Settings out = now;
    auto take = [modeChanged](std::wstring& setting, const std::wstring& box, bool boxEdited,
                              const std::wstring& before) {
        // Unchanged behind the window, the box's text is stored (even when the box
        // could not hold the setting exactly).
        if (modeChanged || boxEdited || setting == before) setting = box;
    };
    take(out.AuthLogin, window.AuthLogin, edited.AuthLogin, atOpen.AuthLogin);
    take(out.AuthPass, window.AuthPass, edited.AuthPass, atOpen.AuthPass);
    take(out.Cookie, window.Cookie, edited.Cookie, atOpen.Cookie);
    if (modeChanged) out.NoLogin = window.NoLogin;
    out.StatusMask = window.StatusMask;
    out.Enabled = window.Enabled;
    out.ShowErrors = window.ShowErrors;
    return out;
}

}  // namespace nimbo
