#include "core/settings.h"

#include <windows.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/critical_section.h"
#include "core/activity_log.h"
#include "core/ini_file.h"
#include "core/ini_location.h"

namespace nimbo {

namespace {

std::string flag(bool on) {
    return on ? "1" : "0";
}

// Each key as saveSettings writes it. A key's bit in `Store::edited` is its place here,
// and a key counts as changed when its text does.
const struct {
    const char* name;
    std::string (*text)(const Settings&);
} kKeys[] = {
    {"Enabled", [](const Settings& s) { return flag(s.Enabled); }},
    {"ShowErrors", [](const Settings& s) { return flag(s.ShowErrors); }},
    {"Cookie", [](const Settings& s) { return encodeStoredText(s.Cookie); }},
    {"AuthLogin", [](const Settings& s) { return encodeStoredText(s.AuthLogin); }},
    {"AuthPass", [](const Settings& s) { return encodeStoredText(s.AuthPass); }},
    {"StatusMask", [](const Settings& s) { return encodeStoredText(s.StatusMask); }},
    {"NoLogin", [](const Settings& s) { return flag(s.NoLogin); }},
    {"MinInterval", [](const Settings& s) { return std::to_string(s.MinInterval); }},
    {"PrivateWords", [](const Settings& s) { return encodeStoredText(s.PrivateWords); }},
    {"OnPause", [](const Settings& s) { return std::to_string(s.OnPause); }},
    {"OnStop", [](const Settings& s) { return std::to_string(s.OnStop); }},
    {"Secure", [](const Settings& s) { return std::to_string(s.Secure); }},
    {"ListenBrainz", [](const Settings& s) { return std::to_string(s.ListenBrainz); }},
    {"ListenBrainzToken", [](const Settings& s) { return encodeStoredText(s.ListenBrainzToken); }},
    {"ListenBrainzServer",
     [](const Settings& s) { return encodeStoredText(s.ListenBrainzServer); }},
    {"ListenBrainzListens",
     [](const Settings& s) { return std::to_string(s.ListenBrainzListens); }},
    {"LastFm", [](const Settings& s) { return std::to_string(s.LastFm); }},
    {"LastFmServer", [](const Settings& s) { return encodeStoredText(s.LastFmServer); }},
    {"LastFmKey", [](const Settings& s) { return encodeStoredText(s.LastFmKey); }},
    {"LastFmSecret", [](const Settings& s) { return encodeStoredText(s.LastFmSecret); }},
    {"LastFmSession", [](const Settings& s) { return encodeStoredText(s.LastFmSession); }},
    {"LastFmUser", [](const Settings& s) { return encodeStoredText(s.LastFmUser); }},
    {"LastFmScrobbles", [](const Settings& s) { return std::to_string(s.LastFmScrobbles); }},
};
// One bit a key in `Store::edited`: room for every key the table will hold.
using KeyBits = uint64_t;
static_assert(std::size(kKeys) <= 64, "a key without its bit");
// The seven keys every build has written; the later ones are written once changed.
constexpr KeyBits kOriginalKeys = (KeyBits(1) << 7) - 1;

KeyBits changedKeys(const Settings& a, const Settings& b) {
    KeyBits changed = 0;
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (kKeys[i].text(a) != kKeys[i].text(b)) changed |= KeyBits(1) << i;
    }
    return changed;
}

struct Store {
    CriticalSection lock;
    Settings values;
    ProxyConfig proxy;
    std::wstring path;
    KeyBits edited = 0;   // keys changed since the load (by the user or a login)
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
    s.ListenBrainz = ini.getNumber(kSection, "ListenBrainz", 0) == 1 ? 1 : 0;
    s.ListenBrainzListens = ini.getNumber(kSection, "ListenBrainzListens", 1) == 0 ? 0 : 1;
    std::string stored;
    if (ini.get(kSection, "ListenBrainzToken", stored))
        s.ListenBrainzToken = decodeStoredText(stored);
    if (ini.get(kSection, "ListenBrainzServer", stored))
        s.ListenBrainzServer = decodeStoredText(stored);
    s.LastFm = ini.getNumber(kSection, "LastFm", 0) == 1 ? 1 : 0;
    s.LastFmScrobbles = ini.getNumber(kSection, "LastFmScrobbles", 1) == 0 ? 0 : 1;
    const struct {
        const char* key;
        std::wstring& value;
    } lastFm[] = {{"LastFmServer", s.LastFmServer},
                  {"LastFmKey", s.LastFmKey},
                  {"LastFmSecret", s.LastFmSecret},
                  {"LastFmSession", s.LastFmSession},
                  {"LastFmUser", s.LastFmUser}};
    for (const auto& text : lastFm)
        if (ini.get(kSection, text.key, stored)) text.value = decodeStoredText(stored);
    return s;
}

// What the log must never show of the settings: each target's credentials. A cookie's
// value alone too, should a reply or a message quote it without its name.
void handSecretsToLog(const Settings& s) {
    std::vector<std::wstring> secrets = {s.AuthPass, s.Cookie, s.ListenBrainzToken, s.LastFmSecret,
                                         s.LastFmSession};
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

void readSettings(const std::function<void(const Settings&)>& read) {
    StoreLock lock;
    read(store().values);
}

void editSettings(const std::function<void(Settings&)>& edit) {
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
            places.movedFile && !unread ? kOriginalKeys | changedKeys(Settings(), s) : 0;
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
    KeyBits written = 0;
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
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (written & (KeyBits(1) << i)) ini.set(kSection, kKeys[i].name, kKeys[i].text(s));
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
    store().edited = 0;
    store().unread = false;
    handSecretsToLog(store().values);
    setLogBeside(std::wstring());
}

}  // namespace nimbo
