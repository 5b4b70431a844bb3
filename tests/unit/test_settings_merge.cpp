// What "Ok" stores when a login finished while the settings window was open.
#include <gtest/gtest.h>

#include "core/settings_keys.h"
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
    // Each account's session by its own server and key alone; the others' stand apart.
    for (size_t n = 0; n < kAccounts; ++n) {
        const LastFmKeys& k = kLastFmAccounts[n];
        const LastFmKeys& other = kLastFmAccounts[(n + 1) % kAccounts];
        for (const auto& c : cases) {
            Settings s;
            s.*k.session = L"s3ss10n";
            s.*k.sessionServer = c.grantedServer;
            s.*k.sessionApiKey = c.grantedKey;
            s.*k.server = c.server;
            s.*k.key = c.key;
            s.*other.server = L"https://elsewhere.example/2.0/";
            EXPECT_EQ(lastFmSessionInUse(s, k), c.used ? L"s3ss10n" : L"") << n << (&c - cases);
            EXPECT_EQ(lastFmSessionInUse(s, other), L"") << n << (&c - cases);
        }
    }
}

// A copy takes every key: it goes through the key table.
TEST(SettingsKeys, ACopyTakesEveryKey) {
    Settings s;
    for (size_t i = 0; i < kSettingsKeyCount; ++i) {
        const SettingsKey& k = kSettingsKeys[i];
        if (k.flag) s.*k.flag = !(s.*k.flag);
        if (k.number) s.*k.number = int(i) + 7;
        if (k.text) s.*k.text = std::wstring(L"key ") + wchar_t(L'A' + i);
    }
    Settings assigned;
    assigned = s;
    for (const Settings& c : {assigned, Settings(s)})
        for (size_t i = 0; i < kSettingsKeyCount; ++i) {
            const SettingsKey& k = kSettingsKeys[i];
            EXPECT_TRUE(k.flag     ? c.*k.flag == s.*k.flag
                        : k.number ? c.*k.number == int(i) + 7
                                   : c.*k.text == s.*k.text)
                << k.name;
        }
}

// What the log, the result lines and the windows call an account, and its queue file.
TEST(AccountNames, ByServerThenUserThenNumber) {
    const struct {
        const wchar_t *server1, *user1, *server2, *user2;
        bool on2;
        const wchar_t *name1, *name2;
    } cases[] = {
        {L"Last.fm", L"anna", L"Libre.fm", L"anna", true, L"Last.fm", L"Libre.fm"},
        {L"Last.fm", L"anna", L"Last.fm", L"ben", true, L"Last.fm (anna)", L"Last.fm (ben)"},
        // An account switched off shares nothing.
        {L"Last.fm", L"anna", L"Last.fm", L"ben", false, L"Last.fm", L"Last.fm (ben)"},
        {L"Last.fm", L"", L"Last.fm", L"ben", true, L"Last.fm (1)", L"Last.fm (ben)"},
        {L"Last.fm", L"anna", L"Last.fm", L"anna", true, L"Last.fm (1)", L"Last.fm (2)"},
    };
    for (const auto& c : cases) {
        const AccountLabel labels[] = {{c.server1, c.user1, true}, {c.server2, c.user2, c.on2}};
        const auto label = [&labels](size_t i) { return labels[i]; };
        EXPECT_EQ(accountName(2, 0, label), c.name1) << (&c - cases);
        EXPECT_EQ(accountName(2, 1, label), c.name2) << (&c - cases);
    }

    Settings s;
    s.ListenBrainz = s.ListenBrainz3 = 1;
    s.ListenBrainz3Server = L"HTTPS://API.ListenBrainz.org/";
    EXPECT_EQ(listenBrainzAccountName(s, 0), L"ListenBrainz (1)");
    EXPECT_EQ(listenBrainzAccountName(s, 2), L"ListenBrainz (3)");
    s.ListenBrainz3Server = L"maloja.example:42010";
    EXPECT_EQ(listenBrainzAccountName(s, 0), L"ListenBrainz");
    EXPECT_EQ(listenBrainzAccountName(s, 2), L"maloja.example");
    s.ListenBrainz2Server = L"ftp://x";
    EXPECT_EQ(listenBrainzAccountName(s, 1), L"ftp://x");

    EXPECT_EQ(queueFileName(L"nimbo-listens", 0), L"nimbo-listens.txt");
    EXPECT_EQ(queueFileName(L"nimbo-scrobbles", 1), L"nimbo-scrobbles-2.txt");
    EXPECT_EQ(queueFileName(L"nimbo-listens", 3), L"nimbo-listens-4.txt");
}
