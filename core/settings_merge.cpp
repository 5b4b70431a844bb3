#include "core/settings_merge.h"

#include "common/text.h"
#include "core/server_address.h"

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

bool sessionFits(const std::wstring& grantedServer, const std::wstring& grantedKey,
                 const std::wstring& server, const std::wstring& key) {
    if (trimBlanks(grantedKey) != trimBlanks(key)) return false;
    const std::wstring a = trimBlanks(grantedServer), b = trimBlanks(server);
    if (a == b) return true;
    // Empty means Last.fm's own, which the address rule would read as another service's.
    if (a.empty() || b.empty()) return false;
    const ServerAddress x = readServerAddress(a), y = readServerAddress(b);
    return x.ok && y.ok && equalsNoCase(x.url.scheme, y.url.scheme) &&
           equalsNoCase(x.url.host, y.url.host) && x.url.port == y.url.port &&
           x.url.requestUri == y.url.requestUri;
}

std::wstring lastFmSessionInUse(const Settings& s, const LastFmKeys& k) {
    return sessionFits(s.*k.sessionServer, s.*k.sessionApiKey, s.*k.server, s.*k.key)
               ? s.*k.session
               : std::wstring();
}

std::wstring lastFmSessionInUse(const Settings& s) {
    return lastFmSessionInUse(s, kLastFmAccounts[0]);
}

}  // namespace nimbo
