// Rules on settings values alone: what "Ok" in the settings window stores, and which
// Last.fm session may be used.
#pragma once

#include "core/accounts.h"
#include "core/settings.h"

namespace nimbo {

// What the settings window holds when "Ok" is pressed.
struct SettingsWindowValues {
    std::wstring AuthLogin, AuthPass, Cookie, StatusMask;
    bool Enabled = false;
    bool ShowErrors = false;
    bool NoLogin = false;  // the "Cookie" radio button is checked
};

// Which of the three sign-in boxes now differ from the text they showed at opening.
struct SettingsWindowEdits {
    bool AuthLogin = false;
    bool AuthPass = false;
    bool Cookie = false;
};

// The settings "Ok" stores, given the settings when the window opened, the settings
// now and the window's values. A login can finish while the window is open and
// store a cookie, clear the e-mail and password and switch to cookie mode; a sign-in
// box the user left alone, in a mode the user left alone (the checked radio button
// is the one checked at opening), keeps what changed behind the window. The mask and
// the two switches always come from the window; settings the window does not show
// come from `now`.
Settings settingsOnOk(const Settings& atOpen, const Settings& now,
                      const SettingsWindowValues& window, const SettingsWindowEdits& edited);

// Whether a session granted for `grantedServer` and `grantedKey` may go to `server` with
// `key`: the same API key (blanks aside) and the same server (the same text, or the
// same address as the server boxes read it, letter case of scheme and host aside).
bool sessionFits(const std::wstring& grantedServer, const std::wstring& grantedKey,
                 const std::wstring& server, const std::wstring& key);

// The stored Last.fm session when it was granted for the server and API key set now;
// empty otherwise, as if there were none: it must never reach another server.
std::wstring lastFmSessionInUse(const Settings& s, const LastFmKeys& account);
// The first account's.
std::wstring lastFmSessionInUse(const Settings& s);

}  // namespace nimbo
