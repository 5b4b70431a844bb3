// The command set (see README.md); every handler runs on the UI thread.
#include <cstdlib>
#include <map>
#include <string>

#include "tools/player/app.h"
#include "tools/player/automation.h"
#include "tools/player/ini_query.h"
#include "tools/player/menu.h"
#include "tools/player/resources.h"
#include "tools/player/text.h"

namespace player {

namespace {

typedef std::vector<std::string> Args;
typedef bool (*Handler)(const std::string& rest, Command& command);

bool fail(Command& command, const std::string& reason) {
    command.error = reason;
    return false;
}

bool intArg(const std::string& text, long long low, long long high, long long& value) {
    return parseInt(text, value) && value >= low && value <= high;
}

const long long kIntMin = -2147483647LL - 1, kIntMax = 2147483647LL;

// "add": texts arrive as UTF-8; the wide queries get them as they are, the 8-bit ones
// through the ANSI code page. "addraw": the 8-bit texts are taken byte for byte, with
// \xNN escapes, and widened through the code page.
bool addEntry(const std::string& rest, Command& command, bool raw) {
    Args fields = splitText(rest, '|');
    if (fields.empty() || fields[0].empty())
        return fail(command, "usage: add path|title|length|bitrate|samplerate|channels");
    if (fields.size() > 6) return fail(command, "too many fields");
    Entry entry;
    std::string texts[2];
    std::wstring wide[2];
    for (int i = 0; i < 2 && size_t(i) < fields.size(); ++i) {
        if (raw && !decodeRawBytes(fields[size_t(i)], texts[i]))
            return fail(command, "bad \\x escape");
        wide[i] = raw ? fromAnsi(texts[i]) : fromUtf8(fields[size_t(i)]);
        if (!raw) texts[i] = toAnsi(wide[i]);
    }
    entry.path = texts[0];
    entry.widePath = wide[0];
    if (fields.size() > 1) {
        entry.title = texts[1];
        entry.wideTitle = wide[1];
    } else {
        size_t cut = entry.path.find_last_of("\\/");
        entry.title = cut == std::string::npos ? entry.path : entry.path.substr(cut + 1);
        size_t wideCut = entry.widePath.find_last_of(L"\\/");
        entry.wideTitle =
            wideCut == std::wstring::npos ? entry.widePath : entry.widePath.substr(wideCut + 1);
    }
    int* numbers[4] = {&entry.length, &entry.bitrate, &entry.sampleRate, &entry.channels};
    for (size_t i = 2; i < fields.size(); ++i) {
        long long value = 0;
        if (!intArg(fields[i], kIntMin, kIntMax, value))
            return fail(command, "bad number " + fields[i]);
        *numbers[i - 2] = int(value);
    }
    Model& m = app().model;
    m.playlist.push_back(entry);
    command.output.push_back("entry " + std::to_string(m.playlist.size() - 1));
    return true;
}

bool cmdAdd(const std::string& rest, Command& command) {
    return addEntry(rest, command, false);
}
bool cmdAddRaw(const std::string& rest, Command& command) {
    return addEntry(rest, command, true);
}

bool cmdWideQueries(const std::string& rest, Command& command) {
    if (rest != "on" && rest != "off") return fail(command, "usage: widequeries on|off");
    app().model.wideQueries = rest == "on";
    return true;
}

// "version <hex>": what query 0 answers, as Winamp gives its version (5092 is 5.9.2).
bool cmdVersion(const std::string& rest, Command& command) {
    char* end = nullptr;
    const unsigned long value = strtoul(rest.c_str(), &end, 16);
    if (rest.empty() || *end != '\0' || value > 0xFFFF)
        return fail(command, "usage: version <hex>");
    app().model.version = LRESULT(value);
    return true;
}

// "tags <index> field=value|...": the texts query 3026 gives for that entry's path.
bool cmdTags(const std::string& rest, Command& command) {
    const size_t space = rest.find(' ');
    long long index = 0;
    Model& m = app().model;
    if (!intArg(rest.substr(0, space), 0, kIntMax, index) || size_t(index) >= m.playlist.size())
        return fail(command, "usage: tags <index> field=value|...");
    std::map<std::wstring, std::wstring>& table =
        m.fileInfo.tables[m.playlist[size_t(index)].widePath];
    table.clear();
    if (space == std::string::npos) return true;
    for (const std::string& pair : splitText(rest.substr(space + 1), '|')) {
        const size_t equals = pair.find('=');
        if (equals == std::string::npos || equals == 0) return fail(command, "bad tag " + pair);
        table[fromUtf8(pair.substr(0, equals))] = fromUtf8(pair.substr(equals + 1));
    }
    return true;
}

bool cmdFileInfo(const std::string& rest, Command& command) {
    const std::map<std::string, FileInfoMode> modes = {{"tags", FileInfoMode::tags},
                                                       {"none", FileInfoMode::none},
                                                       {"unterminated", FileInfoMode::unterminated},
                                                       {"slow", FileInfoMode::slow}};
    auto mode = modes.find(rest);
    if (mode == modes.end()) return fail(command, "usage: fileinfo tags|none|unterminated|slow");
    app().model.fileInfo.mode = mode->second;
    return true;
}

bool cmdInfoQueries(const std::string&, Command& command) {
    FileInfo& info = app().model.fileInfo;
    command.output.push_back("infoqueries " + std::to_string(info.asked.size()));
    for (const std::wstring& query : info.asked)
        command.output.push_back("asked " + escapeField(toUtf8(query)));
    for (const std::wstring& query : info.reused)
        command.output.push_back("reused " + escapeField(toUtf8(query)));
    info.asked.clear();
    info.reused.clear();
    return true;
}

// "retitle <index> <title>": a stream moving to its next song keeps path and state.
bool cmdRetitle(const std::string& rest, Command& command) {
    const size_t space = rest.find(' ');
    long long index = 0;
    Model& m = app().model;
    if (space == std::string::npos || !intArg(rest.substr(0, space), 0, kIntMax, index) ||
        size_t(index) >= m.playlist.size())
        return fail(command, "usage: retitle <index> <title>");
    Entry& entry = m.playlist[size_t(index)];
    entry.wideTitle = fromUtf8(rest.substr(space + 1));
    entry.title = toAnsi(entry.wideTitle);
    return true;
}

bool cmdClear(const std::string&, Command&) {
    Model& m = app().model;
    m.playlist.clear();
    m.fileInfo.tables.clear();
    m.fileInfo.asked.clear();
    m.position = 0;
    m.setState(kStopped);
    return true;
}

bool cmdPlay(const std::string& rest, Command& command) {
    Model& m = app().model;
    long long position = m.position;
    if (!rest.empty() && !intArg(rest, kIntMin, kIntMax, position))
        return fail(command, "bad position");
    m.position = int(position);
    if (!m.loadCurrent()) return fail(command, "no entry at " + std::to_string(position));
    m.setState(kPlaying);
    return true;
}

bool cmdPause(const std::string&, Command& command) {
    Model& m = app().model;
    // Like the host's pause button: toggles, and does nothing while stopped.
    if (m.state == kPlaying) {
        m.setState(kPaused);
    } else if (m.state == kPaused) {
        m.setState(kPlaying);
    } else {
        return fail(command, "not playing");
    }
    return true;
}

bool cmdStop(const std::string&, Command&) {
    app().model.setState(kStopped);
    return true;
}

bool cmdSeek(const std::string& rest, Command& command) {
    long long ms = 0;
    if (!intArg(rest, 0, kIntMax, ms)) return fail(command, "usage: seek <ms>");
    app().model.seek(int(ms));
    return true;
}

bool step(Command& command, int delta) {
    Model& m = app().model;
    if (m.playlist.empty()) return fail(command, "empty playlist");
    int size = int(m.playlist.size());
    int from = m.position >= 0 && m.position < size ? m.position : 0;
    m.position = (from + delta + size) % size;
    if (m.state != kStopped) m.loadCurrent();
    command.output.push_back("position " + std::to_string(m.position));
    return true;
}

bool cmdNext(const std::string&, Command& command) {
    return step(command, 1);
}
bool cmdPrev(const std::string&, Command& command) {
    return step(command, -1);
}

bool cmdPos(const std::string& rest, Command& command) {
    long long value = 0;
    if (!intArg(rest, kIntMin, kIntMax, value)) return fail(command, "usage: pos <n>");
    app().model.position = int(value);
    return true;
}

bool cmdState(const std::string& rest, Command& command) {
    long long value = 0;
    if (!intArg(rest, kIntMin, kIntMax, value)) return fail(command, "usage: state <n>");
    app().model.setState(int(value));
    return true;
}

bool cmdSet(const std::string& rest, Command& command) {
    Args words = splitText(rest, ' ');
    long long value = 0;
    if (words.size() != 2 || !intArg(words[1], kIntMin, kIntMax, value))
        return fail(command, "usage: set length|bitrate|samplerate|channels <n>");
    Model& m = app().model;
    std::map<std::string, int*> fields = {{"length", &m.length},
                                          {"bitrate", &m.bitrate},
                                          {"samplerate", &m.sampleRate},
                                          {"channels", &m.channels}};
    auto field = fields.find(words[0]);
    if (field == fields.end()) return fail(command, "unknown field " + words[0]);
    *field->second = int(value);
    return true;
}

bool cmdShow(const std::string&, Command& command) {
    const Model& m = app().model;
    command.output.push_back(
        "state " + std::to_string(m.state) + " position " + std::to_string(m.position) +
        " entries " + std::to_string(m.playlist.size()) + " length " + std::to_string(m.length) +
        " bitrate " + std::to_string(m.bitrate) + " samplerate " + std::to_string(m.sampleRate) +
        " channels " + std::to_string(m.channels));
    return true;
}

bool cmdList(const std::string&, Command& command) {
    const std::vector<Entry>& list = app().model.playlist;
    for (size_t i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        command.output.push_back("entry " + std::to_string(i) + "\t" + escapeBytes(e.path) + "\t" +
                                 escapeBytes(e.title) + "\t" + std::to_string(e.length) + "\t" +
                                 std::to_string(e.bitrate) + "\t" + std::to_string(e.sampleRate) +
                                 "\t" + std::to_string(e.channels));
    }
    return true;
}

bool cmdQueries(const std::string&, Command& command) {
    command.output.push_back("queries " + std::to_string(app().queries));
    return true;
}

bool cmdPlugin(const std::string&, Command& command) {
    const PluginHost& p = app().plugin;
    command.output.push_back(std::string("loaded ") + (p.loaded() ? "1" : "0") + " running " +
                             (p.running() ? "1" : "0"));
    if (p.record())
        command.output.push_back(
            "description " + escapeField(p.record()->description ? p.record()->description : ""));
    return true;
}

bool cmdResources(const std::string&, Command& command) {
    command.output.push_back(describeResources());
    return true;
}

bool cmdConfig(const std::string&, Command& command) {
    if (!app().plugin.running()) return fail(command, "no running plugin");
    app().plugin.config();
    return true;
}

bool cmdQuit(const std::string& rest, Command& command) {
    if (!rest.empty() && rest != "unload") return fail(command, "usage: quit [unload]");
    if (app().quitting) return fail(command, "already quit");
    app().pendingQuit = &command;
    beginQuit(rest == "unload");
    return true;
}

bool cmdExit(const std::string&, Command& command) {
    command.exitAfter = true;
    if (app().quitting) return true;
    // Leaving without a quit command still quits the plugin first, as the host does.
    app().pendingQuit = &command;
    beginQuit(false);
    return true;
}

// A crash or a kill from outside: no quit, no unload, the plugin's threads cut off
// wherever they are.
bool cmdTerminate(const std::string&, Command&) {
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 9);
    return true;
}

bool cmdSleep(const std::string& rest, Command& command) {
    long long ms = 0;
    if (!intArg(rest, 0, 600000, ms)) return fail(command, "usage: sleep <ms>");
    pumpFor(DWORD(ms));
    return true;
}

// A host that stops answering: the UI thread blocks without looking at its messages.
bool cmdHang(const std::string& rest, Command& command) {
    long long ms = 0;
    if (!intArg(rest, 0, 600000, ms)) return fail(command, "usage: hang <ms>");
    Sleep(DWORD(ms));
    return true;
}

bool handleArg(const std::string& text, HWND& window, Command& command) {
    long long value = 0;
    if (!parseInt(text, value)) return fail(command, "bad window handle " + text);
    window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    if (!ownWindow(window)) return fail(command, "no window " + text + " in this process");
    return true;
}

// Splits "<hwnd> <text>"; the text may hold spaces.
bool handleAndText(const std::string& rest, HWND& window, std::string& text, Command& command) {
    size_t space = rest.find(' ');
    if (!handleArg(rest.substr(0, space), window, command)) return false;
    text = space == std::string::npos ? std::string() : rest.substr(space + 1);
    return true;
}

bool cmdWindows(const std::string&, Command& command) {
    listWindows(command.output);
    return true;
}

bool cmdMsgbox(const std::string& rest, Command& command) {
    long long timeout = 0;
    if (!rest.empty() && !intArg(rest, 0, 600000, timeout))
        return fail(command, "usage: msgbox [ms]");
    DWORD start = GetTickCount();
    HWND box = findMessageBox();
    while (!box && GetTickCount() - start < DWORD(timeout)) {
        pumpFor(20);
        box = findMessageBox();
    }
    if (!box) return fail(command, "no message box");
    // Up to 2 s more for a box still being filled.
    start = GetTickCount();
    while (IsWindow(box) && !messageBoxFilled(box) && GetTickCount() - start < 2000) pumpFor(20);
    describeMessageBox(box, command.output);
    return true;
}

bool cmdDismiss(const std::string& rest, Command& command) {
    HWND box = nullptr;
    if (!rest.empty()) {
        if (!handleArg(rest, box, command)) return false;
    } else if (!(box = findMessageBox())) {
        return fail(command, "no message box");
    }
    return dismissMessageBox(box, command.error);
}

bool cmdGetText(const std::string& rest, Command& command) {
    HWND window = nullptr;
    std::string text;
    if (!handleArg(rest, window, command)) return false;
    if (!windowText(window, text)) return fail(command, "no answer");
    command.output.push_back("text " + escapeField(text));
    return true;
}

bool cmdSetText(const std::string& rest, Command& command) {
    HWND window = nullptr;
    std::string text;
    if (!handleAndText(rest, window, text, command)) return false;
    return setWindowText(window, text) || fail(command, "not accepted");
}

bool cmdType(const std::string& rest, Command& command) {
    HWND window = nullptr;
    std::string text;
    if (!handleAndText(rest, window, text, command)) return false;
    typeText(window, text);
    return true;
}

bool cmdClick(const std::string& rest, Command& command) {
    HWND window = nullptr;
    if (!handleArg(rest, window, command)) return false;
    clickWindow(window);
    return true;
}

bool cmdKey(const std::string& rest, Command& command) {
    static const std::map<std::string, UINT> keys = {
        {"tab", VK_TAB},   {"left", VK_LEFT},    {"right", VK_RIGHT},  {"up", VK_UP},
        {"down", VK_DOWN}, {"enter", VK_RETURN}, {"escape", VK_ESCAPE}};
    std::string name = rest;
    const bool shift = name.compare(0, 6, "shift+") == 0;
    if (shift) name = name.substr(6);
    auto key = keys.find(name);
    if (key == keys.end())
        return fail(command, "usage: key [shift+]tab|left|right|up|down|enter|escape");
    HWND focus = GetFocus();
    if (!focus) return fail(command, "no focus");
    pressKey(focus, key->second, shift);
    return true;
}

bool cmdFocus(const std::string&, Command& command) {
    HWND focus = GetFocus();
    if (!focus) return fail(command, "no focus");
    command.output.push_back("focus " + std::to_string(reinterpret_cast<UINT_PTR>(focus)) + " id " +
                             std::to_string(GetDlgCtrlID(focus)));
    return true;
}

bool cmdScreenshot(const std::string& rest, Command& command) {
    Args words = splitText(rest, ' ');
    HWND window = nullptr;
    if (words[0].empty() || words.size() > 2)
        return fail(command, "usage: screenshot <path> [hwnd]");
    if (words.size() == 2 && !handleArg(words[1], window, command)) return false;
    pumpFor(50);  // let pending paints land first
    return saveScreenshot(words[0], window, command.error);
}

bool cmdMenu(const std::string& rest, Command& command) {
    return menuCommand(rest, command.output, command.error);
}

bool cmdWndProc(const std::string&, Command& command) {
    describeWindowProc(command.output);
    return true;
}

const std::map<std::string, Handler>& handlers() {
    static const std::map<std::string, Handler> table = {
        {"add", cmdAdd},
        {"addraw", cmdAddRaw},
        {"clear", cmdClear},
        {"play", cmdPlay},
        {"pause", cmdPause},
        {"stop", cmdStop},
        {"seek", cmdSeek},
        {"next", cmdNext},
        {"prev", cmdPrev},
        {"pos", cmdPos},
        {"state", cmdState},
        {"set", cmdSet},
        {"show", cmdShow},
        {"list", cmdList},
        {"queries", cmdQueries},
        {"plugin", cmdPlugin},
        {"config", cmdConfig},
        {"quit", cmdQuit},
        {"exit", cmdExit},
        {"sleep", cmdSleep},
        {"hang", cmdHang},
        {"terminate", cmdTerminate},
        {"windows", cmdWindows},
        {"msgbox", cmdMsgbox},
        {"dismiss", cmdDismiss},
        {"gettext", cmdGetText},
        {"settext", cmdSetText},
        {"type", cmdType},
        {"click", cmdClick},
        {"screenshot", cmdScreenshot},
        {"key", cmdKey},
        {"focus", cmdFocus},
        {"widequeries", cmdWideQueries},
        {"version", cmdVersion},
        {"resources", cmdResources},
        {"tags", cmdTags},
        {"fileinfo", cmdFileInfo},
        {"infoqueries", cmdInfoQueries},
        {"retitle", cmdRetitle},
        {"inifile", cmdIniFile},
        {"menu", cmdMenu},
        {"wndproc", cmdWndProc},
    };
    return table;
}

}  // namespace

void runCommand(Command& command) {
    size_t space = command.line.find(' ');
    std::string name = command.line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : command.line.substr(space + 1);
    auto handler = handlers().find(name);
    if (handler == handlers().end()) {
        command.error = "unknown command " + name;
        return;
    }
    if (!handler->second(rest, command) && command.error.empty()) command.error = "failed";
    refreshMainWindow();
}

}  // namespace player
