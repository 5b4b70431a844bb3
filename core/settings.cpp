#include "core/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/critical_section.h"
#include "common/platform.h"
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
        for (DWORD units = 4096;; units *= 4) {
            std::vector<wchar_t> buffer(units, L'\0');
            const wchar_t kAbsent[] = L"\x1\x2";  // cannot stand in an ini line
            DWORD n = GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), kAbsent,
                                               buffer.data(), units, path_.c_str());
            if (n + 1 >= units && units < 0x4000000) continue;
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

    // Writes the edited bytes back (write failures are ignored, as at quit).
    void commit() {
        if (!changed_) return;
        // The platform may hold the file in a cache; have it drop that copy so its
        // next read sees what is written here.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        if (WriteFile(file, bytes_.data(), DWORD(bytes_.size()), &written, nullptr) &&
            written == bytes_.size())
            SetEndOfFile(file);
        CloseHandle(file);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
    }

private:
    void readWholeFile() {
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        char chunk[65536];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes_.append(chunk, got);
        CloseHandle(file);
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

std::wstring appDataCandidate() {
    char folder[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE)) return std::wstring();
    return widen(folder) + L"\\Winamp\\winamp.ini";
}

std::wstring findIniPath() {
    const std::wstring beside = hostFolderCandidate();
    if (isFile(beside)) return beside;
    const std::wstring appData = appDataCandidate();
    if (!appData.empty() && isFile(appData)) return appData;
    return beside;
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
    const std::wstring path = findIniPath();
    const IniFile ini(path);
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

    // Winamp's own 8-bit text, taken as it stands.
    std::string proxy;
    ini.get("Winamp", "proxy", proxy);

    StoreLock lock;
    store().path = path;
    store().values = s;
    store().proxy.proxySetting = proxy;
    if (!store().proxy.proxySetting.empty())
        store().proxy.parts = parseProxySetting(store().proxy.proxySetting);
}

void saveSettings() {
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
    ini.commit();
}

void resetSettingsForTest() {
    StoreLock lock;
    store().values = Settings();
    store().proxy = ProxyConfig();
    store().path.clear();
}

}  // namespace nimbo
