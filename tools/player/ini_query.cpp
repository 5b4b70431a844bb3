#include "tools/player/ini_query.h"

#include <shellapi.h>

#include "tools/player/text.h"

namespace player {

namespace {

struct IniAnswer {
    bool set = false;   // false: the default, beside the exe
    bool known = true;  // false: answer 1, as a host that predates the query
    std::wstring path;  // kept alive here: the plugin reads it through the address
};

IniAnswer& iniAnswer() {
    static IniAnswer answer;
    return answer;
}

std::wstring besideExe() {
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    std::wstring exe(path, n < 32768 ? n : 0);
    size_t cut = exe.find_last_of(L"\\/");
    return (cut == std::wstring::npos ? std::wstring() : exe.substr(0, cut + 1)) + L"winamp.ini";
}

void setAnswer(const std::wstring& value) {
    IniAnswer& a = iniAnswer();
    a.set = true;
    a.known = value != L"old";
    a.path = a.known ? value : std::wstring();
}

}  // namespace

LRESULT answerIniQuery() {
    IniAnswer& a = iniAnswer();
    if (!a.known) return 1;
    if (!a.set) {
        a.path = besideExe();
        a.set = true;
    }
    return reinterpret_cast<LRESULT>(a.path.c_str());
}

bool iniFileOption(int index) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return false;
    const bool ok = index < count && args[index][0] != L'\0';
    if (ok) setAnswer(args[index]);
    LocalFree(args);
    return ok;
}

bool cmdIniFile(const std::string& rest, Command& command) {
    if (!rest.empty()) setAnswer(fromUtf8(rest));
    answerIniQuery();
    const IniAnswer& a = iniAnswer();
    command.output.push_back(a.known ? "inifile " + escapeField(toUtf8(a.path)) : "inifile old");
    return true;
}

}  // namespace player
