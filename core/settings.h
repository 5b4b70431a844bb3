// The plugin's settings, kept in winamp.ini's section "Gen_Nimbo", and Winamp's proxy.
#pragma once

#include <string>

#include "common/function_ref.h"
#include "core/settings_codec.h"

namespace nimbo {

constexpr int kDefaultMinInterval = 5;
// An hour between two statuses is already more than anyone means to ask for.
constexpr int kMaxMinInterval = 3600;

// Named after their ini keys.
struct Settings {
    Settings() = default;
    // Copied key by key through the key table (core/settings_keys.cpp): one loop rather
    // than a copy of every text at each copy, which the accounts' keys made the DLL's
    // largest growth. So every member is a key of that table.
    Settings(const Settings& other);
    Settings& operator=(const Settings& other);

    bool Enabled = false;
    bool ShowErrors = false;
    bool NoLogin = false;  // on: cookie mode
    std::wstring Cookie;
    std::wstring AuthLogin;
    std::wstring AuthPass;
    std::wstring StatusMask;

    // Beyond the original seven keys. Each is written only once it differs from its
    // default or already stands in the file, so an ini that never used them keeps
    // exactly the keys it had.
    int MinInterval = kDefaultMinInterval;  // seconds between two statuses; 0: at once
    std::wstring PrivateWords;              // entries that keep a track private, one a line
    int OnPause = 0;                        // 1: a pause clears the status instead
    int OnStop = 0;                         // 1: a stop clears the status instead
    int Secure = 0;                         // 1: every request goes over TLS (HTTPS)
    int ListenBrainz = 0;                   // 1: what plays goes to ListenBrainz too
    std::wstring ListenBrainzToken;         // the user's token from the profile page
    std::wstring ListenBrainzServer;        // empty: the service's own
    int ListenBrainzListens = 1;            // 1: listened tracks go to ListenBrainz too
    int LastFm = 0;                         // 1: what plays goes to Last.fm (or Libre.fm...)
    std::wstring LastFmServer;              // its API root; empty: Last.fm's own
    std::wstring LastFmKey, LastFmSecret;   // the API account's; empty: the build's own
    std::wstring LastFmSession;             // the key the browser's authorisation gave
    std::wstring LastFmUser;                // the name it was given for
    int LastFmScrobbles = 1;                // 1: listened tracks are scrobbled too
    // The server and API key (as typed) the session was granted for: it goes nowhere else.
    std::wstring LastFmSessionServer, LastFmSessionApiKey;

    // Accounts 2 to 4 of each interface: the same keys, numbered (core/accounts.h).
    int ListenBrainz2 = 0;
    std::wstring ListenBrainz2Token, ListenBrainz2Server;
    int ListenBrainz2Listens = 1;
    int ListenBrainz3 = 0;
    std::wstring ListenBrainz3Token, ListenBrainz3Server;
    int ListenBrainz3Listens = 1;
    int ListenBrainz4 = 0;
    std::wstring ListenBrainz4Token, ListenBrainz4Server;
    int ListenBrainz4Listens = 1;
    int LastFm2 = 0;
    std::wstring LastFm2Server, LastFm2Key, LastFm2Secret, LastFm2Session, LastFm2User;
    int LastFm2Scrobbles = 1;
    std::wstring LastFm2SessionServer, LastFm2SessionApiKey;
    int LastFm3 = 0;
    std::wstring LastFm3Server, LastFm3Key, LastFm3Secret, LastFm3Session, LastFm3User;
    int LastFm3Scrobbles = 1;
    std::wstring LastFm3SessionServer, LastFm3SessionApiKey;
    int LastFm4 = 0;
    std::wstring LastFm4Server, LastFm4Key, LastFm4Secret, LastFm4Session, LastFm4User;
    int LastFm4Scrobbles = 1;
    std::wstring LastFm4SessionServer, LastFm4SessionApiKey;
    // Discord's "Listening to" presence, over the desktop client's local pipe.
    int Discord = 0;          // 1: what plays shows in Discord
    std::wstring DiscordApp;  // the application ID; empty: the build's own
    int DiscordShows = 1;     // after "Listening to": 0 the application, 1 artist, 2 title
    // A file that holds what plays, for stream overlays; empty: none.
    std::wstring NowPlayingFile;
    std::wstring NowPlayingMask;  // its text, as the status mask; empty: "%artist% - %title%"
    std::wstring NowPlayingIdle;  // its text while nothing plays
};

// The settings are shared by Winamp's thread (dialog, init, quit) and the timer
// thread (tick, login). Readers take a consistent copy; writers edit under the lock,
// so no thread ever sees a half-written text.
Settings currentSettings();
void editSettings(FunctionRef<void(Settings&)> edit);
// Reads under the lock without copying the texts (the idle tick looks up a word
// in the mask once a second).
void readSettings(FunctionRef<void(const Settings&)> read);
// Just the on/off switch, for the tick's guard (no copy of the texts).
bool publishingEnabled();

// Winamp's [Winamp] "proxy" text and its parts.
struct ProxyConfig {
    std::string proxySetting;
    ProxyParts parts;
    // False while winamp.ini could not be read: the proxy may be set there, so nothing
    // may be sent (neither direct nor elsewhere) until it is known.
    bool known = true;
};
// A copy, from the load's read of Winamp's file. When that read failed, each call reads
// the file again (outside the store's lock, bounded as every read is) until one
// succeeds and fills it for good; safe from any thread.
ProxyConfig proxyConfig();

// Finds winamp.ini (the path Winamp names, else the guessed places), remembers its
// path and reads every setting and the proxy. Call on Winamp's thread at init: the
// question goes to Winamp's window, which is gone by quit.
void loadSettings();
// Writes the settings to the remembered path, replacing the file in one step; false
// when the file could not be written (it then stays exactly as it was).
bool saveSettings();
// The remembered path (wide, so a folder name outside the code page still works).
std::wstring iniPath();

// Resets everything to the state of a freshly loaded library (tests).
void resetSettingsForTest();

}  // namespace nimbo
