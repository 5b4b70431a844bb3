#include "core/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/critical_section.h"
#include "common/file_replace.h"
#include "common/platform.h"
#include "common/unique_handle.h"
#include "core/ini_text.h"

namespace nimbo {

namespace {

struct Store {
    CriticalSection lock;
    Settings values;
    ProxyConfig proxy;
    std::wstring path;
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

// winamp.ini read and written as bytes, so a stored value comes back exactly as it
// was written, whatever its length and whatever the code page. A Unicode (UTF-16)
// file, which only the platform's calls understand, goes through those instead.
// The platform's read of a UTF-16 file starts with this many units and grows fourfold up
// to the last size (64 Mi units), so a value too long even for that comes back cut.
constexpr DWORD kFirstReadUnits = 4096;
constexpr DWORD kLastReadUnits = 0x4000000;

class IniFile {
public:
    explicit IniFile(const std::wstring& path) : path_(path) {
        readWholeFile();
        unicode_ = isUtf16Text(bytes_);
    }

    // Read: false when the key is absent. A value holds the file's bytes.
    bool get(const char* section, const char* key, std::string& value) const {
        if (!unicode_) return readIniValue(bytes_, section, key, value);
        const std::wstring wideSection = widen(section), wideKey = widen(key);
        // The platform cuts a value to its buffer: grow the buffer until it fits.
        for (DWORD units = kFirstReadUnits;; units *= 4) {
            std::vector<wchar_t> buffer(units, L'\0');
            const wchar_t kAbsent[] = L"\x1\x2";  // cannot stand in an ini line
            DWORD n = GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), kAbsent,
                                               buffer.data(), units, path_.c_str());
            if (n + 1 >= units && units < kLastReadUnits) continue;
            std::wstring text(buffer.data(), n);
            if (text == kAbsent) return false;
            value = narrow(text);
            return true;
        }
    }

    // Digits need no code page: the platform's integer read does for every file.
    bool getBool(const char* section, const char* key, bool fallback) const {
        return GetPrivateProfileIntW(widen(section).c_str(), widen(key).c_str(), fallback ? 1 : 0,
                                     path_.c_str()) != 0;
    }
    // A number of the later keys: blanks around it allowed, anything else (or a key
    // that is absent) gives the fallback rather than a silent 0.
    long getNumber(const char* section, const char* key, long fallback) const {
        std::string text;
        if (!get(section, key, text)) return fallback;
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) return fallback;
        const char* start = text.c_str() + first;
        char* end = nullptr;
        const long value = std::strtol(start, &end, 10);
        if (end == start || text.find_first_not_of(" \t", size_t(end - text.c_str())) != std::string::npos)
            return fallback;
        return value;
    }
    bool has(const char* section, const char* key) const {
        std::string ignored;
        return get(section, key, ignored);
    }

    void set(const char* section, const char* key, const std::string& value) {
        if (unicode_) {
            WritePrivateProfileStringW(widen(section).c_str(), widen(key).c_str(),
                                       widen(value).c_str(), path_.c_str());
        } else {
            bytes_ = writeIniValue(bytes_, section, key, value);
            changed_ = true;
        }
    }

    bool hasSection(const char* section) const {
        if (!unicode_) return hasIniSection(bytes_, section);
        // Any answer but 0 means at least one key stands there (a buffer too small
        // still gives its size less two, so it must hold more than two units).
        wchar_t keys[64];
        return GetPrivateProfileSectionW(widen(section).c_str(), keys, 64, path_.c_str()) != 0;
    }

    // Writes the edited bytes back in one step: a failure anywhere leaves the file as
    // it was (failures are otherwise ignored, as at quit).
    bool commit() {
        if (!changed_) return true;
        // The platform may hold the file in a cache; have it drop that copy so its
        // next read sees what is written here.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
        const bool done = replaceFileContents(path_, bytes_);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
        return done;
    }

private:
    void readWholeFile() {
        UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        char chunk[65536];
        DWORD got = 0;
        while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes_.append(chunk, got);
    }

    std::wstring path_;
    std::string bytes_;
    bool unicode_ = false;
    bool changed_ = false;
};

const char kSection[] = "Gen_Nimbo";

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring hostFolderCandidate() {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    std::wstring exe(buffer.data(), n);
    size_t cut = exe.find_last_of(L":\\/");
    return (cut == std::wstring::npos ? std::wstring() : exe.substr(0, cut + 1)) + L"winamp.ini";
}

// The wide call, so a profile folder whose name lies outside the code page still works.
std::wstring appDataCandidate() {
    wchar_t folder[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_APPDATA, TRUE) || !folder[0]) return std::wstring();
    return std::wstring(folder) + L"\\Winamp\\winamp.ini";
}

// Winamp's query for the path of the ini it uses (5.58 and later).
const LPARAM kIniFileWide = 1334;
const size_t kMaxPathUnits = 32768;

// Winamp's main window in this process (another process's window would hand out an
// address that means nothing here).
HWND ownWinampWindow() {
    const DWORD self = GetCurrentProcessId();
    for (HWND window = FindWindowExA(nullptr, nullptr, "Winamp v1.x", nullptr); window;
         window = FindWindowExA(nullptr, window, "Winamp v1.x", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == self) return window;
    }
    return nullptr;
}

// A zero-terminated wide text at an address this process got from its host, read
// page by page through the memory manager, so a bad address gives an empty text
// instead of a fault. At most kMaxPathUnits units; no terminator by then: empty.
std::wstring readHostText(uintptr_t address) {
    const size_t kPage = 4096, kMaxBytes = kMaxPathUnits * sizeof(wchar_t);
    std::string bytes;
    size_t scanned = 0;  // units checked for the terminator so far
    while (bytes.size() < kMaxBytes) {
        size_t chunk = kPage - (address + bytes.size()) % kPage;
        if (chunk > kMaxBytes - bytes.size()) chunk = kMaxBytes - bytes.size();
        const size_t before = bytes.size();
        bytes.resize(before + chunk);
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address + before),
                               &bytes[before], chunk, &got) ||
            got != chunk)
            return std::wstring();
        for (; (scanned + 1) * sizeof(wchar_t) <= bytes.size(); ++scanned) {
            wchar_t unit;
            memcpy(&unit, bytes.data() + scanned * sizeof(wchar_t), sizeof unit);
            if (unit == 0) {
                std::wstring text(scanned, L'\0');
                if (scanned) memcpy(&text[0], bytes.data(), scanned * sizeof(wchar_t));
                return text;
            }
        }
    }
    return std::wstring();
}

// A path the settings can live at: some text without control characters, no folder
// itself, in a folder that exists.
bool usableIniPath(const std::wstring& path) {
    if (path.empty()) return false;
    for (wchar_t c : path)
        if (c < 0x20) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut == 0) return false;
    const DWORD folder = GetFileAttributesW(path.substr(0, cut + 1).c_str());
    return folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY);
}

// The path Winamp itself names, or empty when there is no Winamp window here, the
// host is older (it answers 1) or the answer is no usable path.
std::wstring hostIniPath() {
    HWND window = ownWinampWindow();
    if (!window) return std::wstring();
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_USER, 0, kIniFileWide, SMTO_BLOCK | SMTO_ABORTIFHUNG, 2000,
                             &answer))
        return std::wstring();
    // Nothing lives in the lowest 64 KiB; 0 and 1 are the "unknown query" answers.
    if (answer < 0x10000) return std::wstring();
    const std::wstring path = readHostText(uintptr_t(answer));
    return usableIniPath(path) ? path : std::wstring();
}

// Where the settings were looked for before hosts could say: beside the host program,
// then the application-data folder; neither there: beside the host all the same.
std::wstring guessedIniPath() {
    const std::wstring beside = hostFolderCandidate();
    if (isFile(beside)) return beside;
    const std::wstring appData = appDataCandidate();
    if (!appData.empty() && isFile(appData)) return appData;
    return beside;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), int(a.size()), b.c_str(),
                          int(b.size())) == CSTR_EQUAL;
}

// Where the settings are read from and written to. When Winamp names its ini and
// that holds no settings yet, settings found in a guessed place are read from there
// once; the save then puts them into Winamp's ini and the old file stays as it is.
struct IniPlaces {
    std::wstring settings;  // read the plugin's section from here
    std::wstring winamp;    // Winamp's ini: its proxy, and where the save goes
};

IniPlaces findIniPlaces() {
    const std::wstring named = hostIniPath();
    if (named.empty()) {
        const std::wstring guessed = guessedIniPath();
        return {guessed, guessed};
    }
    if (IniFile(named).hasSection(kSection)) return {named, named};
    for (const std::wstring& old : {hostFolderCandidate(), appDataCandidate()}) {
        if (old.empty() || samePath(old, named) || !isFile(old)) continue;
        if (IniFile(old).hasSection(kSection)) return {old, named};
    }
    return {named, named};
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
    edit(store().values);
}

bool publishingEnabled() {
    StoreLock lock;
    return store().values.Enabled;
}

const ProxyConfig& proxyConfig() { return store().proxy; }

std::wstring iniPath() {
    StoreLock lock;
    return store().path;
}

void loadSettings() {
    const IniPlaces places = findIniPlaces();
    const IniFile ini(places.settings);
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
        s.PrivateWords = decodeStoredText(privateWords);
    s.OnPause = ini.getNumber(kSection, "OnPause", 0) == 1 ? 1 : 0;
    s.OnStop = ini.getNumber(kSection, "OnStop", 0) == 1 ? 1 : 0;

    // Winamp's own 8-bit text, taken as it stands, from Winamp's own file.
    std::string proxy;
    if (places.winamp == places.settings)
        ini.get("Winamp", "proxy", proxy);
    else
        IniFile(places.winamp).get("Winamp", "proxy", proxy);

    StoreLock lock;
    store().path = places.winamp;
    store().values = s;
    store().proxy.proxySetting = proxy;
    if (!store().proxy.proxySetting.empty())
        store().proxy.parts = parseProxySetting(store().proxy.proxySetting);
}

bool saveSettings() {
    const Settings s = currentSettings();
    IniFile ini(iniPath());
    ini.set(kSection, "Enabled", s.Enabled ? "1" : "0");
    ini.set(kSection, "ShowErrors", s.ShowErrors ? "1" : "0");
    ini.set(kSection, "Cookie", encodeStoredText(s.Cookie));
    ini.set(kSection, "AuthLogin", encodeStoredText(s.AuthLogin));
    ini.set(kSection, "AuthPass", encodeStoredText(s.AuthPass));
    ini.set(kSection, "StatusMask", encodeStoredText(s.StatusMask));
    ini.set(kSection, "NoLogin", s.NoLogin ? "1" : "0");

    const Settings defaults;
    const auto setIfUsed = [&](const char* key, bool isDefault, const std::string& value) {
        if (!isDefault || ini.has(kSection, key)) ini.set(kSection, key, value);
    };
    setIfUsed("MinInterval", s.MinInterval == defaults.MinInterval, std::to_string(s.MinInterval));
    setIfUsed("PrivateWords", s.PrivateWords.empty(), encodeStoredText(s.PrivateWords));
    setIfUsed("OnPause", s.OnPause == defaults.OnPause, std::to_string(s.OnPause));
    setIfUsed("OnStop", s.OnStop == defaults.OnStop, std::to_string(s.OnStop));
    return ini.commit();
}

void resetSettingsForTest() {
    StoreLock lock;
    store().values = Settings();
    store().proxy = ProxyConfig();
    store().path.clear();
}

}  // namespace nimbo
