// What "Ok" stores when a login finished while the settings window was open.
#include <gtest/gtest.h>

#include "core/settings_merge.h"

using namespace nimbo;

namespace {

Settings opened(bool cookieMode) {
    Settings s;
    s.Enabled = true;
    s.NoLogin = cookieMode;
    s.AuthLogin = L"user@example.com";
    s.AuthPass = L"secret";
    s.Cookie = L"remixsid=old";
    s.StatusMask = L"%artist% - %title%";
    s.MinInterval = 9;
    s.PrivateWords = L"secret track";
    return s;
}

// What a login that finishes behind the window leaves in the settings.
Settings afterLogin(Settings s) {
    s.Cookie = L"remixsid=fresh";
    s.AuthLogin.clear();
    s.AuthPass.clear();
    s.NoLogin = true;
    return s;
}

// The window as it opened; a case then types into it.
SettingsWindowValues shown(const Settings& s) {
    SettingsWindowValues w;
    w.AuthLogin = s.AuthLogin;
    w.AuthPass = s.AuthPass;
    w.Cookie = s.Cookie;
    w.StatusMask = s.StatusMask;
    w.Enabled = s.Enabled;
    w.ShowErrors = s.ShowErrors;
    w.NoLogin = s.NoLogin;
    return w;
}

}  // namespace

// A login finished behind the window in every case.
TEST(SettingsOnOk, KeepsWhatALoginStoredUnlessTheUserTouchedIt) {
    const wchar_t* const kTyped = L"typed";
    struct Case {
        const char* name;
        bool openedInCookieMode;
        bool cookieChecked;  // the radio button checked at "Ok"
        SettingsWindowEdits edited;
        // Expected: the window's value (true) or the value now (false).
        bool loginFromWindow, passFromWindow, cookieFromWindow, modeFromWindow;
    };
    // clang-format off
    const Case cases[] = {
        {"nothing edited",           false, false, {},                   false, false, false, false},
        {"login box edited",         false, false, {true, false, false}, true,  false, false, false},
        {"password box edited",      false, false, {false, true, false}, false, true,  false, false},
        {"cookie box edited",        false, false, {false, false, true}, false, false, true,  false},
        {"cookie mode chosen",       false, true,  {},                   true,  true,  true,  true},
        {"login mode chosen",        true,  false, {},                   true,  true,  true,  true},
        // Switched away and back before "Ok": the mode counts as left alone.
        {"mode switched and back",   true,  true,  {},                   false, false, false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Settings atOpen = opened(c.openedInCookieMode);
        Settings now = afterLogin(atOpen);
        now.MinInterval = 30;  // changed behind the window by other means
        SettingsWindowValues window = shown(atOpen);
        window.NoLogin = c.cookieChecked;
        if (c.edited.AuthLogin) window.AuthLogin = kTyped;
        if (c.edited.AuthPass) window.AuthPass = kTyped;
        if (c.edited.Cookie) window.Cookie = kTyped;
        window.StatusMask = L"new mask";
        window.Enabled = false;
        window.ShowErrors = true;

        const Settings s = settingsOnOk(atOpen, now, window, c.edited);
        EXPECT_EQ(s.AuthLogin, c.loginFromWindow ? window.AuthLogin : now.AuthLogin);
        EXPECT_EQ(s.AuthPass, c.passFromWindow ? window.AuthPass : now.AuthPass);
        EXPECT_EQ(s.Cookie, c.cookieFromWindow ? window.Cookie : now.Cookie);
        EXPECT_EQ(s.NoLogin, c.modeFromWindow ? window.NoLogin : now.NoLogin);
        // The mask and the switches come from the window whatever happened behind it;
        // what the window does not show stays as it is now.
        EXPECT_EQ(s.StatusMask, L"new mask");
        EXPECT_FALSE(s.Enabled);
        EXPECT_TRUE(s.ShowErrors);
        EXPECT_EQ(s.MinInterval, now.MinInterval);
        EXPECT_EQ(s.PrivateWords, now.PrivateWords);
    }
}

// With nothing changed behind the window, "Ok" stores exactly the window's values,
// whichever boxes count as edited and whichever mode is checked.
TEST(SettingsOnOk, WithNothingBehindTheWindowStoresTheWindow) {
    for (bool openedInCookieMode : {false, true}) {
        for (bool cookieChecked : {false, true}) {
            for (int mask = 0; mask < 8; ++mask) {
                SCOPED_TRACE(::testing::Message() << openedInCookieMode << cookieChecked << mask);
                const Settings atOpen = opened(openedInCookieMode);
                Settings now = atOpen;
                now.NoLogin = cookieChecked;
                const SettingsWindowEdits edited = {(mask & 1) != 0, (mask & 2) != 0,
                                                    (mask & 4) != 0};
                SettingsWindowValues window = shown(atOpen);
                window.NoLogin = cookieChecked;
                // A box's text can differ from the setting without an edit: a box
                // cannot hold every text exactly.
                window.AuthLogin = L"box 1";
                window.AuthPass = L"box 2";
                window.Cookie = L"box 3";
                const Settings s = settingsOnOk(atOpen, now, window, edited);
                EXPECT_EQ(s.AuthLogin, L"box 1");
                EXPECT_EQ(s.AuthPass, L"box 2");
                EXPECT_EQ(s.Cookie, L"box 3");
                EXPECT_EQ(s.NoLogin, cookieChecked);
            }
        }
    }
}

// A Last.fm session goes only to the server and API key it was granted for.
TEST(LastFmSessionInUse, OnlyForTheServerAndKeyItWasGrantedFor) {
    const struct {
        const wchar_t *grantedServer, *grantedKey, *server, *key;
        bool used;
    } cases[] = {
        {L"", L"", L"", L"", true},
        {L" libre.fm ", L" K", L"HTTPS://Libre.FM:443/", L"K ", true},
        {L"https://one.example/2.0/", L"K", L"https://two.example/2.0/", L"K", false},
        {L"https://one.example/2.0/", L"K", L"http://one.example/2.0/", L"K", false},
        {L"https://one.example/gnufm/2.0/", L"K", L"https://one.example/2.0/", L"K", false},
        {L"https://one.example:8443/", L"K", L"https://one.example/", L"K", false},
        {L"https://one.example/2.0/", L"", L"https://one.example/2.0/", L"K", false},
        // Empty is Last.fm's own, not the address rule's default.
        {L"", L"", L"api.listenbrainz.org", L"", false},
        {L"not a url?x", L"", L"not a url?y", L"", false},
    };
    for (const auto& c : cases) {
        Settings s;
        s.LastFmSession = L"s3ss10n";
        s.LastFmSessionServer = c.grantedServer;
        s.LastFmSessionApiKey = c.grantedKey;
        s.LastFmServer = c.server;
        s.LastFmKey = c.key;
        EXPECT_EQ(lastFmSessionInUse(s), c.used ? L"s3ss10n" : L"") << (&c - cases);
    }
}
