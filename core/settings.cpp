#include "core/settings.h"

#include <windows.h>

#include <string>

#include "common/critical_section.h"
#include "core/activity_log.h"
#include "core/ini_file.h"
#include "core/ini_location.h"

namespace nimbo {

namespace {

// One bit per key, for the keys an edit changed.
constexpr unsigned kEnabledKey = 1u << 0, kShowErrorsKey = 1u << 1, kCookieKey = 1u << 2,
                   kAuthLoginKey = 1u << 3, kAuthPassKey = 1u << 4, kStatusMaskKey = 1u << 5,
                   kNoLoginKey = 1u << 6, kMinIntervalKey = 1u << 7, kPrivateWordsKey = 1u << 8,
                   kOnPauseKey = 1u << 9, kOnStopKey = 1u << 10, kSecureKey = 1u << 11,
                   kOriginalKeys = (1u << 7) - 1;

unsigned changedKeys(const Settings& a, const Settings& b) {
    return (a.Enabled != b.Enabled ? kEnabledKey : 0) |
           (a.ShowErrors != b.ShowErrors ? kShowErrorsKey : 0) |
           (a.Cookie != b.Cookie ? kCookieKey : 0) |
           (a.AuthLogin != b.AuthLogin ? kAuthLoginKey : 0) |
           (a.AuthPass != b.AuthPass ? kAuthPassKey : 0) |
           (a.StatusMask != b.StatusMask ? kStatusMaskKey : 0) |
           (a.NoLogin != b.NoLogin ? kNoLoginKey : 0) |
           (a.MinInterval != b.MinInterval ? kMinIntervalKey : 0) |
           (a.PrivateWords != b.PrivateWords ? kPrivateWordsKey : 0) |
           (a.OnPause != b.OnPause ? kOnPauseKey : 0) | (a.OnStop != b.OnStop ? kOnStopKey : 0) |
           (a.Secure != b.Secure ? kSecureKey : 0);
}

struct Store {
    CriticalSection lock;
    Settings values;
    ProxyConfig proxy;
    std::wstring path;
    unsigned edited = 0;  // keys changed since the load (by the user or a login)
    bool unread = false;  // the load could not read the file: values beyond `edited` are defaults
};

Store& store() {
    static Store s;
    return s;
}

// The store's lock, held for the scope it is made in.
class StoreLock : public Locked {
  public:
    StoreLock() : Locked(store().lock) {}
};

const char kSection[] = "Gen_Nimbo";

// The plugin's keys as the file holds them; defaults for what is absent.
Settings settingsIn(const IniFile& ini) {
    Settings s;
    s.Enabled = ini.getBool(kSection, "Enabled", false);
    s.ShowErrors = ini.getBool(kSection, "ShowErrors", false);
    const struct {
        const char* key;
        std::wstring& value;
    } texts[] = {{"Cookie", s.Cookie},
                 {"AuthLogin", s.AuthLogin},
                 {"AuthPass", s.AuthPass},
                 {"StatusMask", s.StatusMask}};
    // A missing mask is the built-in default as it stands: passing the default
    // through the stored-text decoding would mangle it in most code pages.
    s.StatusMask = kDefaultStatusMask;
    for (const auto& text : texts) {
        std::string stored;
        if (ini.get(kSection, text.key, stored)) text.value = decodeStoredText(stored);
    }
    s.NoLogin = ini.getBool(kSection, "NoLogin", false);

    const long interval = ini.getNumber(kSection, "MinInterval", kDefaultMinInterval);
    s.MinInterval = interval < 0 ? 0 : interval > kMaxMinInterval ? kMaxMinInterval : int(interval);
    std::string privateWords;
    if (ini.get(kSection, "PrivateWords", privateWords))
        s.PrivateWords = decodeStoredList(privateWords);
    s.OnPause = ini.getNumber(kSection, "OnPause", 0) == 1 ? 1 : 0;
    s.OnStop = ini.getNumber(kSection, "OnStop", 0) == 1 ? 1 : 0;
    s.Secure = ini.getNumber(kSection, "Secure", 0) == 1 ? 1 : 0;
    return s;
}

}  // namespace

Settings currentSettings() {
    StoreLock lock;
    return store().values;
}

void readSettings(const std::function<void(const Settings&)>& read) {
    StoreLock lock;
    read(store().values);
}

void editSettings(const std::function<void(Settings&)>& edit) {
    StoreLock lock;
    const Settings before = store().values;
    edit(store().values);
    store().edited |= changedKeys(before, store().values);
}

bool publishingEnabled() {
    StoreLock lock;
    return store().values.Enabled;
}

const ProxyConfig& proxyConfig() {
    return store().proxy;
}

std::wstring iniPath() {
    StoreLock lock;
    return store().path;
}

void loadSettings() {
    const IniPlaces places = findIniPlaces(kSection);
    const IniFile ini(places.settings);
    const bool unread = !ini.readable();
    const Settings s = unread ? Settings() : settingsIn(ini);

    // Winamp's own 8-bit text, taken as it stands, from Winamp's own file.
    std::string proxy;
    if (places.winamp == places.settings)
        ini.get("Winamp", "proxy", proxy);
    else
        IniFile(places.winamp).get("Winamp", "proxy", proxy);

    {
        StoreLock lock;
        store().path = places.winamp;
        store().values = s;
        // Settings moved over from a guessed file are all news to Winamp's file.
        store().edited =
            places.winamp == places.settings ? 0 : kOriginalKeys | changedKeys(Settings(), s);
        store().unread = unread;
        store().proxy.proxySetting = proxy;
        if (!proxy.empty()) store().proxy.parts = parseProxySetting(proxy);
    }
    if (unread)
        logActivity(
            L"settings could not be read from winamp.ini: working on defaults, and quit "
            L"saves only what changes");
}

bool saveSettings() {
    Settings s;
    unsigned written = 0;
    std::wstring path;
    {
        StoreLock lock;
        s = store().values;
        // The original seven always, as they stand in memory, unless the load could
        // not read them: then memory holds defaults, not the user's settings. The
        // later keys only once changed, so a value this build could not read (or
        // one a text editor wrote) stays as it stands.
        written = store().edited | (store().unread ? 0 : kOriginalKeys);
        path = store().path;
    }
    IniFile ini(path);
    // Anything written now would lose what the file holds.
    if (!ini.readable()) {
        logActivity(L"settings not saved: winamp.ini could not be read");
        return false;
    }
    const auto put = [&](unsigned key, const char* name, const std::string& value) {
        if (written & key) ini.set(kSection, name, value);
    };
    put(kEnabledKey, "Enabled", s.Enabled ? "1" : "0");
    put(kShowErrorsKey, "ShowErrors", s.ShowErrors ? "1" : "0");
    put(kCookieKey, "Cookie", encodeStoredText(s.Cookie));
    put(kAuthLoginKey, "AuthLogin", encodeStoredText(s.AuthLogin));
    put(kAuthPassKey, "AuthPass", encodeStoredText(s.AuthPass));
    put(kStatusMaskKey, "StatusMask", encodeStoredText(s.StatusMask));
    put(kNoLoginKey, "NoLogin", s.NoLogin ? "1" : "0");
    put(kMinIntervalKey, "MinInterval", std::to_string(s.MinInterval));
    put(kPrivateWordsKey, "PrivateWords", encodeStoredText(s.PrivateWords));
    put(kOnPauseKey, "OnPause", std::to_string(s.OnPause));
    put(kOnStopKey, "OnStop", std::to_string(s.OnStop));
    put(kSecureKey, "Secure", std::to_string(s.Secure));
    if (ini.commit()) return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    logActivity(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)
                    ? L"settings not saved: winamp.ini is read-only"
                    : L"settings not saved: winamp.ini could not be replaced");
    return false;
}

void resetSettingsForTest() {
    StoreLock lock;
    store().values = Settings();
    store().proxy = ProxyConfig();
    store().path.clear();
    store().edited = 0;
    store().unread = false;
}

}  // namespace nimbo
