#include "core/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "common/critical_section.h"
#include "common/platform.h"

namespace nimbo {

const wchar_t kDefaultStatusMask[] =
    L"\u041E\u00A9 Now is %curstate%:\r\n"
    L"Artist: %artist%\r\n"
    L"Title: %title%\r\n"
    L"Length: %length%\r\n"
    L"Bitrate: %bitrate%\r\n"
    L"SampleRate: %samplerate%\r\n"
    L"Channels: %channels%";

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

const int kTextUnits = 4096;

// winamp.ini reached through the private-profile calls, one section at a time.
class IniFile {
public:
    IniFile(const std::wstring& path, const wchar_t* section, bool writing)
        : path_(path), section_(section), writing_(writing) {}

    void setSection(const wchar_t* section) { section_ = section; }

    void boolValue(const wchar_t* key, bool& value) {
        if (writing_)
            WritePrivateProfileStringW(section_, key, value ? L"1" : L"0", path_.c_str());
        else
            value = GetPrivateProfileIntW(section_, key, value ? 1 : 0, path_.c_str()) != 0;
    }

    void textValue(const wchar_t* key, std::wstring& value) {
        if (writing_) {
            WritePrivateProfileStringW(section_, key, value.c_str(), path_.c_str());
            return;
        }
        std::vector<wchar_t> buffer(kTextUnits, L'\0');
        DWORD n = GetPrivateProfileStringW(section_, key, value.c_str(), buffer.data(), kTextUnits,
                                           path_.c_str());
        value = n == 0 ? std::wstring() : std::wstring(buffer.data());
    }

    bool hasKey(const wchar_t* key) {
        std::vector<wchar_t> names(65536, L'\0');
        DWORD n = GetPrivateProfileStringW(section_, nullptr, L"", names.data(), DWORD(names.size()),
                                           path_.c_str());
        for (DWORD i = 0; i < n;) {
            const wchar_t* name = names.data() + i;
            if (lstrcmpiW(name, key) == 0) return true;
            i += DWORD(lstrlenW(name)) + 1;
        }
        return false;
    }

private:
    std::wstring path_;
    const wchar_t* section_;
    bool writing_;
};

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
    IniFile ini(path, L"Gen_Nimbo", false);
    Settings s;
    ini.boolValue(L"Enabled", s.Enabled);
    ini.boolValue(L"ShowErrors", s.ShowErrors);
    ini.textValue(L"Cookie", s.Cookie);
    s.Cookie = decodeStoredText(s.Cookie);
    ini.textValue(L"AuthLogin", s.AuthLogin);
    s.AuthLogin = decodeStoredText(s.AuthLogin);
    ini.textValue(L"AuthPass", s.AuthPass);
    s.AuthPass = decodeStoredText(s.AuthPass);
    // A missing mask is the built-in default as it stands: passing the default
    // through the stored-text decoding would mangle it in most code pages.
    if (ini.hasKey(L"StatusMask")) {
        ini.textValue(L"StatusMask", s.StatusMask);
        s.StatusMask = decodeStoredText(s.StatusMask);
    } else {
        s.StatusMask = kDefaultStatusMask;
    }
    ini.boolValue(L"NoLogin", s.NoLogin);

    ini.setSection(L"Winamp");
    std::wstring proxy;
    ini.textValue(L"proxy", proxy);

    StoreLock lock;
    store().path = path;
    store().values = s;
    store().proxy.proxySetting = narrow(proxy);
    if (!store().proxy.proxySetting.empty())
        store().proxy.parts = parseProxySetting(store().proxy.proxySetting);
}

void saveSettings() {
    const Settings s = currentSettings();
    IniFile ini(iniPath(), L"Gen_Nimbo", true);
    bool enabled = s.Enabled, showErrors = s.ShowErrors, noLogin = s.NoLogin;
    std::wstring cookie = encodeStoredText(s.Cookie);
    std::wstring login = encodeStoredText(s.AuthLogin);
    std::wstring pass = encodeStoredText(s.AuthPass);
    std::wstring mask = encodeStoredText(s.StatusMask);
    ini.boolValue(L"Enabled", enabled);
    ini.boolValue(L"ShowErrors", showErrors);
    ini.textValue(L"Cookie", cookie);
    ini.textValue(L"AuthLogin", login);
    ini.textValue(L"AuthPass", pass);
    ini.textValue(L"StatusMask", mask);
    ini.boolValue(L"NoLogin", noLogin);
}

void resetSettingsForTest() {
    StoreLock lock;
    store().values = Settings();
    store().proxy = ProxyConfig();
    store().path.clear();
}

}  // namespace nimbo
