// The player stand-in under Wine: its answers to raw WM_USER queries, its command
// pipe, and its host side with a small test plugin and with the real gen_nimbo.dll.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/version.h"
#include "tests/win32/standin_process.h"

namespace {

using namespace standin;

LRESULT query(HWND window, WPARAM wParam, LPARAM id) {
    return SendMessageA(window, WM_USER, wParam, id);
}

// The NUL-terminated text at an address inside the stand-in (its buffer is 1040 bytes).
std::string remoteText(HANDLE process, LRESULT address) {
    char buffer[1040] = {};
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, sizeof buffer,
                           &got))
        return "<unreadable>";
    return std::string(buffer, strnlen(buffer, got));
}

bool hasLine(const Reply& reply, const std::string& wanted) {
    return std::find(reply.lines.begin(), reply.lines.end(), wanted) != reply.lines.end();
}

bool listsVisibleDialog(const Reply& windows) {
    for (const std::string& line : windows.lines)
        if (line.find("\tclass=#32770\t") != std::string::npos &&
            line.find("\tvisible=1") != std::string::npos)
            return true;
    return false;
}

class StandInWithoutPlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host_.ready());
        std::string ready;
        ASSERT_TRUE(player_.start(host_.exe(), L"--no-plugin", ready));
        ASSERT_EQ("ready no-plugin", ready);
        window_ = player_.window();
        ASSERT_NE(nullptr, window_);
    }

    void run(const std::string& command) {
        Reply reply = player_.send(command);
        ASSERT_TRUE(reply.ok) << command << ": " << reply.error;
    }

    HostFolder host_{nullptr};
    StandIn player_;
    HWND window_ = nullptr;
};

TEST_F(StandInWithoutPlugin, AnswersTheQueryTable) {
    run("add C:\\a.mp3|A|245|320|48|1");
    run("add C:\\b.mp3|B|-1|128|44|2");
    struct Step {
        const char* command;  // run first, when set
        WPARAM wParam;
        LPARAM id;
        LRESULT expected;
    };
    const Step steps[] = {
        {"play 0", 0, 125, 0},
        {nullptr, 1, 105, 245},
        {nullptr, 0, 126, 48},
        {nullptr, 1, 126, 320},
        {nullptr, 2, 126, 1},
        {nullptr, 1, 104, 1},
        {"pause", 1, 104, 3},
        {"pause", 1, 104, 1},
        {"play 1", 0, 125, 1},
        {nullptr, 1, 105, -1},
        {nullptr, 1, 126, 128},
        // A stop keeps the last track's values.
        {"stop", 1, 104, 0},
        {nullptr, 0, 126, 44},
        {nullptr, 1, 126, 128},
        {nullptr, 2, 126, 2},
        {nullptr, 1, 105, -1},
        // Raw values a test may force, negative ones included.
        {"state 2", 1, 104, 2},
        {"state 7", 1, 104, 7},
        {"state -1", 1, 104, -1},
        {"set length 0", 1, 105, 0},
        {"set length 59", 1, 105, 59},
        {"set length 3600", 1, 105, 3600},
        {"set length 6000", 1, 105, 6000},
        {"set length -30", 1, 105, -30},
        {"set bitrate -1", 1, 126, -1},
        {"set samplerate -2", 0, 126, -2},
        {"set channels -3", 2, 126, -3},
        {"pos 5", 0, 125, 5},
        {"pos -1", 0, 125, -1},
        // Every other query id answers 1.
        {nullptr, 0, 0, 1},
        {nullptr, 0, 100, 1},
        {nullptr, 1, 127, 1},
        {nullptr, 0, 210, 1},
        {nullptr, 5, 9999, 1},
        // A host that predates the wide entry queries.
        {"widequeries off", 0, 213, 1},
        {nullptr, 0, 214, 1},
        // The menu family: Options stands at 8 and moves as plugins say; every
        // command id handed out is a new one; only menu 0 exists.
        {nullptr, 0, 280, 8},
        {nullptr, 1, 280, 9},
        {nullptr, WPARAM(-1), 280, 8},
        {nullptr, 0, 3019, 45000},
        {nullptr, 0, 3019, 45001},
        {nullptr, 1, 281, 0},
    };
    for (const Step& step : steps) {
        if (step.command) run(step.command);
        EXPECT_EQ(step.expected, query(window_, step.wParam, step.id))
            << (step.command ? step.command : "") << " query " << step.id << "/" << step.wParam;
    }
}

TEST_F(StandInWithoutPlugin, MainMenuIsPickedByPostedCommand) {
    EXPECT_NE(0, query(window_, 0, 281));
    Reply listed = player_.send("menu");
    ASSERT_TRUE(listed.ok);
    EXPECT_TRUE(hasLine(listed, "item 5 id 40258 checked text Main window"));
    EXPECT_TRUE(hasLine(listed, "item 8 submenu text Options"));
    EXPECT_TRUE(hasLine(listed, "item 8.0 id 40012 unchecked text Preferences..."));
    EXPECT_TRUE(hasLine(listed, "options-pos 8"));
    for (const char* pick : {"menu pick Play URL...", "menu pick 40155"})
        EXPECT_TRUE(hasLine(player_.send(pick), "picked 40155")) << pick;
    EXPECT_EQ("no item Nothing", player_.send("menu pick Nothing").error);
    EXPECT_TRUE(hasLine(player_.send("wndproc"), "wndproc own state-query 0"));
}

TEST(StandInNoMenu, AnswersTheMenuQueryWithNoMenu) {
    HostFolder host(nullptr);
    ASSERT_TRUE(host.ready());
    StandIn player;
    std::string ready;
    ASSERT_TRUE(player.start(host.exe(), L"--no-plugin --no-menu", ready));
    EXPECT_EQ(0, query(player.window(), 0, 281));
    EXPECT_EQ(8, query(player.window(), 0, 280));
}

TEST_F(StandInWithoutPlugin, EntryTextsShareOneOverwrittenBuffer) {
    run("add C:\\music\\one.mp3|First");
    run("add D:\\two.mp3|Second");
    LRESULT path = query(window_, 0, 211);
    ASSERT_NE(0, path);
    EXPECT_EQ("C:\\music\\one.mp3", remoteText(player_.process(), path));
    LRESULT title = query(window_, 1, 212);
    EXPECT_EQ(path, title);
    EXPECT_EQ("Second", remoteText(player_.process(), path));
    EXPECT_EQ(path, query(window_, 1, 211));
    EXPECT_EQ("D:\\two.mp3", remoteText(player_.process(), path));

    const WPARAM outside[] = {2, 1000, WPARAM(-1)};
    for (WPARAM position : outside) {
        EXPECT_EQ(0, query(window_, position, 211)) << position;
        EXPECT_EQ(0, query(window_, position, 212)) << position;
    }
    run("clear");
    EXPECT_EQ(0, query(window_, 0, 211));
}

TEST_F(StandInWithoutPlugin, EntryBytesReachTheBufferExactly) {
    ASSERT_EQ(1252u, GetACP()) << "run under LC_ALL=en_US.UTF-8";
    // UTF-8 on the pipe, the ANSI code page in the playlist; a character outside the
    // code page becomes its substitute.
    run("add C:\\caf\xC3\xA9 \xD0\x96.mp3|x");
    EXPECT_EQ("C:\\caf\xE9 ?.mp3", remoteText(player_.process(), query(window_, 0, 211)));
    // The wide query hands out the text whole, in a buffer of its own.
    wchar_t wide[16] = {};
    SIZE_T got = 0;
    ASSERT_TRUE(ReadProcessMemory(player_.process(),
                                  reinterpret_cast<LPCVOID>(query(window_, 0, 214)), wide,
                                  sizeof wide - sizeof(wchar_t), &got));
    EXPECT_EQ(std::wstring(L"C:\\caf\u00E9 \u0416.mp3"), wide);
    EXPECT_NE(query(window_, 0, 214), query(window_, 0, 211));

    // The raw form puts exact bytes in, a name longer than the probe's 260 included.
    std::string name = "C:\\";
    std::string escaped = "C:\\\\";
    for (int i = 0; i < 300; ++i) {
        unsigned char byte = static_cast<unsigned char>(0x80 + i % 0x7F);
        name += char(byte);
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", byte);
        escaped += hex;
    }
    run("addraw " + escaped + "|T\\x7Citle");
    EXPECT_EQ(name, remoteText(player_.process(), query(window_, 1, 211)));
    EXPECT_EQ("T|itle", remoteText(player_.process(), query(window_, 1, 212)));

    // A name longer than the shared buffer is cut to fit, NUL included.
    run("add C:\\" + std::string(1100, 'n'));
    EXPECT_EQ("C:\\" + std::string(1036, 'n'),
              remoteText(player_.process(), query(window_, 2, 211)));
}

TEST_F(StandInWithoutPlugin, CountsAnsweredQueriesAndStopsAnsweringAtQuit) {
    Reply before = player_.send("queries");
    ASSERT_TRUE(before.ok);
    ASSERT_EQ(1u, before.lines.size());
    for (int i = 0; i < 5; ++i) query(window_, 0, 125);
    Reply after = player_.send("queries");
    int counted = atoi(before.lines[0].c_str() + 8);
    EXPECT_EQ("queries " + std::to_string(counted + 5), after.lines.at(0));

    Reply quit = player_.send("quit");
    ASSERT_TRUE(quit.ok) << quit.error;
    EXPECT_TRUE(hasLine(quit, "window-gone 1"));
    EXPECT_EQ(nullptr, player_.window());
    EXPECT_EQ(0, query(window_, 0, 125));  // the window is gone: the send fails
    EXPECT_EQ(after.lines.at(0), player_.send("queries").lines.at(0));
    EXPECT_EQ("already quit", player_.send("quit").error);

    ASSERT_TRUE(player_.send("exit").ok);
    DWORD code = 1;
    ASSERT_TRUE(player_.exitCode(5000, code));
    EXPECT_EQ(0u, code);
}

TEST_F(StandInWithoutPlugin, RejectsMalformedCommands) {
    const char* bad[] = {
        "bogus",          "play 3",       "pos x",       "state",         "set volume 3",
        "set length ten", "add",          "add a|b|ten", "addraw a\\xZZ", "add a|b|1|2|3|4|5",
        "sleep -1",       "pause",        "gettext 0x1", "click nothing", "msgbox",
        "dismiss",        "config",       "quit now",    "next",          "tags 0 artist=A",
        "retitle 0 X",    "fileinfo all",
    };
    run("clear");
    for (const char* command : bad) {
        Reply reply = player_.send(command);
        EXPECT_FALSE(reply.ok) << command;
        EXPECT_FALSE(reply.error.empty() || reply.error == "no reply") << command;
    }
    // Still answering afterwards.
    run("add C:\\a.mp3");
    EXPECT_NE(0, query(window_, 0, 212));
    for (const char* command : {"tags 0 =A", "tags 0 artist", "retitle 0", "tags 1 title=T"}) {
        EXPECT_FALSE(player_.send(command).ok) << command;
    }
}

TEST(StandInHost, CallsThePluginOnItsUiThreadInTheHostsOrder) {
    HostFolder host(NIMBO_FAKE_PLUGIN_DLL);
    ASSERT_TRUE(host.ready());
    StandIn player;
    std::string ready;
    std::vector<std::string> initLines;
    ASSERT_TRUE(player.start(host.exe(), L"", ready, &initLines));
    EXPECT_EQ("ready init=0", ready);
    EXPECT_EQ(std::vector<std::string>{"fake-init parent-ok 1 instance-ok 1"}, initLines);

    Reply config = player.send("config");
    ASSERT_TRUE(config.ok) << config.error;
    EXPECT_TRUE(hasLine(config, "fake-config ui-thread 1"));

    // The plugin's box from another thread: found, read and dismissed.
    Reply box = player.send("msgbox 5000");
    ASSERT_TRUE(box.ok) << box.error;
    EXPECT_TRUE(hasLine(box, "caption Error"));
    EXPECT_TRUE(hasLine(box, "text Fake message\\r\\nsecond line"));
    EXPECT_TRUE(hasLine(box, "button 1 OK"));
    EXPECT_TRUE(listsVisibleDialog(player.send("windows")));
    ASSERT_TRUE(player.send("dismiss").ok);
    EXPECT_FALSE(listsVisibleDialog(player.send("windows")));
    EXPECT_EQ("no message box", player.send("msgbox").error);

    // quit comes after the window is gone, so the plugin's query there fails.
    Reply quit = player.send("quit unload");
    ASSERT_TRUE(quit.ok) << quit.error;
    EXPECT_TRUE(hasLine(quit, "fake-quit ui-thread 1 window-alive 0 answer 0"));
    EXPECT_TRUE(hasLine(quit, "loaded-after-quit 0"));
    EXPECT_TRUE(hasLine(player.send("plugin"), "loaded 0 running 0"));
}

TEST(StandInHost, UnloadsAPluginWhoseInitFails) {
    HostFolder host(NIMBO_FAKE_PLUGIN_DLL);
    ASSERT_TRUE(host.ready());
    SetEnvironmentVariableA("NIMBO_FAKE_INIT_RESULT", "7");
    StandIn player;
    std::string ready;
    bool started = player.start(host.exe(), L"", ready);
    SetEnvironmentVariableA("NIMBO_FAKE_INIT_RESULT", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ("ready init=7", ready);
    EXPECT_TRUE(hasLine(player.send("plugin"), "loaded 0 running 0"));
    EXPECT_EQ("no running plugin", player.send("config").error);
    Reply quit = player.send("quit");
    EXPECT_TRUE(quit.ok) << quit.error;
    EXPECT_FALSE(hasLine(quit, "loaded-after-quit 1"));
}

std::wstring iniValue(const std::wstring& ini, const wchar_t* key) {
    wchar_t value[512] = {};
    GetPrivateProfileStringW(L"Gen_Nimbo", key, L"<absent>", value, 512, ini.c_str());
    return value;
}

TEST(StandInHost, RunsTheRealPluginAndOutlivesItsUnload) {
    HostFolder host(NIMBO_PLUGIN_DLL);
    ASSERT_TRUE(host.ready());
    // Publishing off: the plugin must stay idle, no queries and no requests.
    ASSERT_TRUE(WritePrivateProfileStringW(L"Gen_Nimbo", L"Enabled", L"0", host.ini().c_str()));
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, host.ini().c_str());
    ASSERT_EQ(L"<absent>", iniValue(host.ini(), L"ShowErrors"));

    StandIn player;
    std::string ready;
    ASSERT_TRUE(player.start(host.exe(), L"--unload-after-quit", ready));
    EXPECT_EQ("ready init=0", ready);
    // Only init's questions, once: where winamp.ini is (1334) and the menu (281, 3019,
    // 280 twice).
    const std::string afterInit = "queries 5";
    EXPECT_TRUE(hasLine(player.send("queries"), afterInit));
    Reply plugin = player.send("plugin");
    EXPECT_TRUE(hasLine(plugin, "loaded 1 running 1"));
    EXPECT_TRUE(hasLine(plugin, "description Vkontakte Nimbo v" NIMBO_VERSION));
    EXPECT_TRUE(player.send("config").ok);
    ASSERT_TRUE(player.send("sleep 1500").ok);
    EXPECT_TRUE(hasLine(player.send("queries"), afterInit));

    Reply quit = player.send("quit", 20000);
    ASSERT_TRUE(quit.ok) << quit.error;
    EXPECT_TRUE(hasLine(quit, "window-gone 1"));
    EXPECT_TRUE(hasLine(quit, "loaded-after-quit 0"));
    // The settings reached winamp.ini beside the exe at quit.
    EXPECT_EQ(L"0", iniValue(host.ini(), L"Enabled"));
    EXPECT_EQ(L"0", iniValue(host.ini(), L"ShowErrors"));
    EXPECT_NE(L"<absent>", iniValue(host.ini(), L"StatusMask"));

    // A timer tick after the unload would jump into freed code and end the process.
    Reply sleep = player.send("sleep 3000");
    EXPECT_TRUE(sleep.ok) << sleep.error;
    EXPECT_TRUE(hasLine(player.send("queries"), afterInit));
    ASSERT_TRUE(player.send("exit").ok);
    DWORD code = 1;
    ASSERT_TRUE(player.exitCode(5000, code));
    EXPECT_EQ(0u, code);
}

// The stand-in's loop never calls IsDialogMessage: the settings window still moves
// through its controls on Tab and Shift+Tab, switches the mode on the arrows, and a
// Tab in the status-mask box types nothing.
TEST(StandInHost, SettingsWindowKeyboardWithoutIsDialogMessage) {
    HostFolder host(NIMBO_PLUGIN_DLL);
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(
        WritePrivateProfileStringW(L"Gen_Nimbo", L"StatusMask", L"mask", host.ini().c_str()));
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, host.ini().c_str());

    StandIn player;
    std::string ready;
    ASSERT_TRUE(player.start(host.exe(), L"", ready));
    ASSERT_EQ("ready init=0", ready);
    ASSERT_TRUE(player.send("config").ok);
    std::string maskBox;
    // The focused control's id (100 + its number in the window's table).
    auto focusAfter = [&](const std::string& key) {
        if (!key.empty()) {
            Reply pressed = player.send("key " + key);
            EXPECT_TRUE(pressed.ok) << key << ": " << pressed.error;
        }
        Reply focus = player.send("focus");
        if (!focus.ok || focus.lines.empty()) return -1;
        std::string line = focus.lines[0];  // "focus <hwnd> id <id>"
        size_t id = line.rfind(' ');
        if (line.compare(id - 3, 4, " id ") == 0 && line.substr(id + 1) == "112")
            maskBox = line.substr(6, line.find(' ', 6) - 6);
        return std::stoi(line.substr(id + 1));
    };
    EXPECT_EQ(108, focusAfter(""));  // the checked radio button
    // Login mode: radio, login, password, mask, Enabled, Ok, Cancel, Show errors, More.
    for (int id : {110, 111, 112, 116, 114, 115, 117, 119, 108}) EXPECT_EQ(id, focusAfter("tab"));
    for (int id : {119, 117, 115, 114, 116, 112}) EXPECT_EQ(id, focusAfter("shift+tab"));
    ASSERT_FALSE(maskBox.empty());
    EXPECT_EQ(116, focusAfter("tab"));
    Reply mask = player.send("gettext " + maskBox);
    EXPECT_TRUE(hasLine(mask, "text mask")) << "a Tab was typed into the box";
    for (int id : {112, 111, 110, 108}) EXPECT_EQ(id, focusAfter("shift+tab"));
    // The arrows switch to cookie mode, whose cookie box then comes after the mask.
    EXPECT_EQ(109, focusAfter("right"));
    EXPECT_EQ(112, focusAfter("tab"));
    EXPECT_EQ(113, focusAfter("tab"));
    EXPECT_EQ(116, focusAfter("tab"));
    for (int id : {113, 112, 109}) EXPECT_EQ(id, focusAfter("shift+tab"));
    EXPECT_EQ(108, focusAfter("left"));
    EXPECT_EQ(110, focusAfter("tab"));

    ASSERT_TRUE(player.send("quit", 20000).ok);
    ASSERT_TRUE(player.send("exit").ok);
    EXPECT_EQ(L"0", iniValue(host.ini(), L"NoLogin"));
    EXPECT_EQ(L"mask", iniValue(host.ini(), L"StatusMask"));
}

}  // namespace
