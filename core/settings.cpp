#include "core/settings.h"

#include <windows.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/critical_section.h"
#include "core/accounts.h"
#include "core/activity_log.h"
#include "core/ini_file.h"
#include "core/ini_location.h"
#include "core/settings_keys.h"

namespace nimbo {

namespace {

// The key table's; a key's bit in `Store::edited` is its place there.
const SettingsKey* const kKeys = kSettingsKeys;

std::string keyText(size_t key, const Settings& s) {
    const auto& k = kKeys[key];
    if (k.flag) return s.*k.flag ? "1" : "0";
    if (k.number) return std::to_string(s.*k.number);
    return encodeStoredText(s.*k.text);
}
// One bit a key in `Store::edited`, a word for each 32 keys.
struct KeyBits {
    uint32_t words[(kSettingsKeyCount + 31) / 32] = {};

    static KeyBits of(size_t key) {
        KeyBits bits;
        bits.words[key / 32] = uint32_t(1) << key % 32;
        return bits;
    }
    bool has(size_t key) const { return words[key / 32] >> key % 32 & 1; }
    KeyBits& operator|=(const KeyBits& other) {
        for (size_t i = 0; i < std::size(words); ++i) words[i] |= other.words[i];
        return *this;
    }
    KeyBits operator|(KeyBits other) const { return other |= *this; }
};
// The seven keys every build has written; the later ones are written once changed.
const KeyBits kOriginalKeys = {{0x7F}};

// The bit of a text key.
KeyBits bitOf(std::wstring Settings::*text) {
    for (size_t i = 0; i < kSettingsKeyCount; ++i)
        if (kKeys[i].text == text) return KeyBits::of(i);
    return KeyBits();
}

// Whatever session the file holds, the server and API key it belongs to stand beside it
// (empty ones too): a session without them is taken for one of a build before them.
KeyBits sessionBinding(const Settings& s) {
    KeyBits bound;
    for (const LastFmKeys& k : kLastFmAccounts)
        if (!(s.*k.session).empty()) bound |= bitOf(k.sessionServer) | bitOf(k.sessionApiKey);
    return bound;
}

KeyBits changedKeys(const Settings& a, const Settings& b) {
    KeyBits changed;
    for (size_t i = 0; i < kSettingsKeyCount; ++i) {
        if (keyText(i, a) != keyText(i, b)) changed |= KeyBits::of(i);
    }
    return changed;
}

struct Store {
    CriticalSection lock;
    Settings values;
    ProxyConfig proxy;
    std::wstring path;
    KeyBits edited;       // keys changed since the load (by the user or a login)
    bool unread = false;  // the load could not read the file: values beyond `edited` are defaults
};

// Made when the DLL loads, before any thread of the plugin's runs (the same for every
// other such object of the plugin: none is made on its first use).
Store gStore;

Store& store() {
    return gStore;
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
    // A missing mask is the built-in default as it stands: passing the default
    // through the stored-text decoding would mangle it in most code pages.
    s.StatusMask = kDefaultStatusMask;
    std::string stored;
    for (size_t i = 0; i < kSettingsKeyCount; ++i) {
        const SettingsKey& k = kKeys[i];
        if (k.flag) {
            s.*k.flag = ini.getBool(kSection, k.name, false);
        } else if (k.number == &Settings::MinInterval) {
            const long interval = ini.getNumber(kSection, k.name, kDefaultMinInterval);
            s.MinInterval = interval < 0                 ? 0
                            : interval > kMaxMinInterval ? kMaxMinInterval
                                                         : int(interval);
        } else if (k.number) {
            // A switch: anything but the value other than its default is its default.
            const int byDefault = s.*k.number;
            const int other = 1 - byDefault;
            s.*k.number = ini.getNumber(kSection, k.name, byDefault) == other ? other : byDefault;
        } else if (ini.get(kSection, k.name, stored)) {
            s.*k.text = k.text == &Settings::PrivateWords ? decodeStoredList(stored)
                                                          : decodeStoredText(stored);
        }
    }
    // A session stored before sessions knew their server belongs to the server and API
    // key set then: they are its own from now on. (Only the first account is that old.)
    if (!s.LastFmSession.empty() && !ini.get(kSection, "LastFmSessionServer", stored) &&
        !ini.get(kSection, "LastFmSessionApiKey", stored)) {
        s.LastFmSessionServer = s.LastFmServer;
        s.LastFmSessionApiKey = s.LastFmKey;
    }
    return s;
}

// What the log must never show of the settings: each target's credentials. A cookie's
// value alone too, should a reply or a message quote it without its name.
void handSecretsToLog(const Settings& s) {
    std::vector<std::wstring> secrets = {s.AuthPass, s.Cookie};
    for (const ListenBrainzKeys& k : kListenBrainzAccounts) secrets.push_back(s.*k.token);
    for (const LastFmKeys& k : kLastFmAccounts) {
        secrets.push_back(s.*k.secret);
        secrets.push_back(s.*k.session);
    }
    const size_t equals = s.Cookie.find(L'=');
    if (equals != std::wstring::npos) {
        const size_t end = s.Cookie.find(L';', equals);
        secrets.push_back(s.Cookie.substr(
            equals + 1, end == std::wstring::npos ? std::wstring::npos : end - equals - 1));
    }
    setLogSecrets(std::move(secrets));
}

// Winamp's own 8-bit text, taken as it stands, from Winamp's own file; unknown when
// that could not be read.
ProxyConfig proxyIn(const IniFile& winamp) {
    ProxyConfig proxy;
    proxy.known = winamp.readable();
    if (proxy.known && winamp.get("Winamp", "proxy", proxy.proxySetting) &&
        !proxy.proxySetting.empty())
        proxy.parts = parseProxySetting(proxy.proxySetting);
    return proxy;
}

}  // namespace

Settings currentSettings() {
    StoreLock lock;
    return store().values;
}

void readSettings(FunctionRef<void(const Settings&)> read) {
    StoreLock lock;
    read(store().values);
}

void editSettings(FunctionRef<void(Settings&)> edit) {
    StoreLock lock;
    const Settings before = store().values;
    edit(store().values);
    store().edited |= changedKeys(before, store().values);
    handSecretsToLog(store().values);
}

bool publishingEnabled() {
    StoreLock lock;
    return store().values.Enabled;
}

ProxyConfig proxyConfig() {
    std::wstring path;
    {
        StoreLock lock;
        if (store().proxy.known) return store().proxy;
        path = store().path;
    }
    // Init could not read Winamp's file. Read outside the lock: a file another program
    // holds costs about a second, and Winamp's thread must not wait on that.
    const IniFile winamp(path);
    if (!winamp.readable()) return ProxyConfig{{}, {}, false};
    StoreLock lock;
    store().proxy = proxyIn(winamp);
    return store().proxy;
}

std::wstring iniPath() {
    StoreLock lock;
    return store().path;
}

void loadSettings() {
    IniPlaces places = findIniPlaces(kSection);
    const IniFile winamp =
        places.winampFile ? std::move(*places.winampFile) : IniFile(places.winamp);
    // Settings found only in a guessed file come from the bytes that decided the move.
    const IniFile& ini = places.movedFile ? *places.movedFile : winamp;
    const bool unread = !ini.readable();
    const Settings s = unread ? Settings() : settingsIn(ini);

    {
        StoreLock lock;
        store().path = places.winamp;
        store().values = s;
        // Settings moved over from a guessed file are all news to Winamp's file; but
        // only settings that were read, never the defaults standing in for them.
        store().edited =
            places.movedFile && !unread ? kOriginalKeys | changedKeys(Settings(), s) : KeyBits();
        store().unread = unread;
        store().proxy = proxyIn(winamp);
        handSecretsToLog(s);
    }
    setLogBeside(places.winamp);
    if (unread)
        logActivity(
            L"settings could not be read from winamp.ini: working on defaults, and quit "
            L"saves only what changes");
}

bool saveSettings() {
    Settings s;
    KeyBits written;
    std::wstring path;
    {
        StoreLock lock;
        s = store().values;
        // The original seven always, as they stand in memory, unless the load could
        // not read them: then memory holds defaults, not the user's settings. The
        // later keys only once changed, so a value this build could not read (or
        // one a text editor wrote) stays as it stands.
        written = store().edited | (store().unread ? KeyBits() : kOriginalKeys) | sessionBinding(s);
        path = store().path;
    }
    IniFile ini(path);
    // Anything written now would lose what the file holds.
    if (!ini.readable()) {
        logActivity(L"settings not saved: winamp.ini could not be read");
        return false;
    }
    for (size_t i = 0; i < kSettingsKeyCount; ++i) {
        if (written.has(i)) ini.set(kSection, kKeys[i].name, keyText(i, s));
    }
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
    store().edited = KeyBits();
    store().unread = false;
    handSecretsToLog(store().values);
    setLogBeside(std::wstring());
}

}  // namespace nimbo
