// The plugin's lifecycle with its modules linked in: the record, init, the tick's
// guard, and quit's ordering (no tick running, timer stopped, then the save).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "common/version.h"
#include "plugin/plugin.h"
#include "plugin/winamp_menu.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/http_client.h"
#include "tests/win32/win32_test_util.h"
#include "ui/control_ids.h"

using namespace nimbo;
using namespace testutil;

extern "C" nimbo::PluginRecord* winampGetGeneralPurposePlugin();

namespace {

// A stand-in main window whose WM_USER handler counts queries and can stall.
std::atomic<int> gQueries{0};
std::atomic<int> gStallMs{0};
std::atomic<bool> gSavedDuringStall{false};
HANDLE gFirstQuery = nullptr;
bool gQuitFromQuery = false;
HWND gOwnWindow = nullptr;

// Look-ups never reach the machine's resolver here: they fail at once, or, for the
// slow case, hold until the test lets them go.
std::atomic<int> gLookups{0};
std::atomic<int> gSlowLookupsBegun{0};
HANDLE gReleaseLookups = nullptr;
bool noLookup(const std::string&, unsigned long&) {
    ++gLookups;
    return false;
}
bool slowLookup(const std::string& host, unsigned long& ipv4) {
    ++gSlowLookupsBegun;
    WaitForSingleObject(gReleaseLookups, 20000);
    return noLookup(host, ipv4);
}

bool iniHasBeenSaved() {
    std::string bytes;
    return readFile(besideIni(), bytes) && bytes.find("StatusMask=") != std::string::npos;
}

// init's question for the path of winamp.ini, counted apart from the tick's queries.
std::atomic<int> gIniQueries{0};
// The host's main popup menu (query 281) and where it keeps its Options menu (280).
HMENU gHostMenu = nullptr;
int gOptionsPos = 0;

LRESULT CALLBACK winampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && lParam == 1334) {
        ++gIniQueries;
        return 1;  // an older Winamp: winamp.ini beside the program
    }
    if (message == WM_USER && lParam == 281) return reinterpret_cast<LRESULT>(gHostMenu);
    if (message == WM_USER && lParam == 280) return gOptionsPos += int(wParam);
    if (message == WM_USER) {
        int n = ++gQueries;
        if (n == 1) SetEvent(gFirstQuery);
        if (n == 1 && gQuitFromQuery) PostMessageW(window, WM_APP, 0, 0);
        if (int stall = gStallMs.exchange(0)) {
            Sleep(DWORD(stall));
            gSavedDuringStall = iniHasBeenSaved();
        }
        return 0;
    }
    if (message == WM_APP) {
        // quit on the thread that owns the window, while a tick waits for it.
        quit();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWinampWindow() {
    return testutil::createWinampWindow(winampProc);
}

void pumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        removeFile(besideIni());
        resetSettingsForTest();
        gQueries = 0;
        gStallMs = 0;
        gSavedDuringStall = false;
        gQuitFromQuery = false;
        gFirstQuery = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        gLookups = 0;
        gSlowLookupsBegun = 0;
        if (!gReleaseLookups) gReleaseLookups = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ResetEvent(gReleaseLookups);
        setHostLookupForTest(noLookup);
    }
    void TearDown() override {
        SetEvent(gReleaseLookups);
        Sleep(100);  // abandoned look-ups end and free their jobs
        setHostLookupForTest(nullptr);
        CloseHandle(gFirstQuery);
        removeFile(besideIni());
    }
};

}  // namespace

TEST(PluginRecord, IsOneStaticRecordWithTheHostFormat) {
    PluginRecord* first = winampGetGeneralPurposePlugin();
    PluginRecord* second = winampGetGeneralPurposePlugin();
    ASSERT_EQ(first, second);
    EXPECT_EQ(sizeof(PluginRecord), 28u);
    EXPECT_EQ(*reinterpret_cast<int*>(first), 16);
    EXPECT_STREQ(first->description, "Vkontakte Nimbo v" NIMBO_VERSION);
    EXPECT_EQ(first->hwndParent, nullptr);
    EXPECT_EQ(first->hDllInstance, nullptr);
    EXPECT_TRUE(first->init && first->config && first->quit);
}

TEST_F(Lifecycle, InitReturnsZeroAndTheTimerTicksOnlyWhileEnabled) {
    testutil::WindowThread winamp(makeWinampWindow);
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=0\r\n"));
    gIniQueries = 0;
    EXPECT_EQ(init(), 0);
    EXPECT_EQ(gIniQueries.load(), 1) << "init asks once where winamp.ini is";
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(gQueries.load(), 0) << "a disabled plugin must not ask Winamp anything else";
    editSettings([](Settings& s) { s.Enabled = true; });
    EXPECT_EQ(WaitForSingleObject(gFirstQuery, 3000), WAIT_OBJECT_0) << "the timer never ticked";
    quit();
}

// The settings window holds the tick; the security-code window only the site's worker,
// which waits in it: the tick goes on.
TEST_F(Lifecycle, TicksStayIdleWhileTheSettingsWindowIsOpen) {
    testutil::WindowThread winamp(makeWinampWindow);
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    init();
    settingsDialogOpen = true;  // init cleared it; the dialog sets it after init
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(gQueries.load(), 0);
    settingsDialogOpen = false;
    securityCodePending = true;
    EXPECT_EQ(WaitForSingleObject(gFirstQuery, 3000), WAIT_OBJECT_0);
    securityCodePending = false;
    quit();
}

TEST_F(Lifecycle, AnIdleTickOnlyAsksAFewQueries) {
    testutil::WindowThread winamp(makeWinampWindow);
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    init();
    ASSERT_EQ(WaitForSingleObject(gFirstQuery, 3000), WAIT_OBJECT_0);
    // Counted between the ends of ticks, the next one a second away.
    ASSERT_TRUE(waitForTicks(1));
    const int before = gQueries.load();
    ASSERT_TRUE(waitForTicks(3));
    const int perTick = (gQueries.load() - before) / 3;
    // Position, entry name and play state: nothing else while nothing changes.
    EXPECT_GE(perTick, 2);
    EXPECT_LE(perTick, 4);
    quit();
}

TEST_F(Lifecycle, QuitWaitsForARunningTickThenStopsTheTimerThenSaves) {
    testutil::WindowThread winamp(makeWinampWindow);
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    gStallMs = 900;  // the first query keeps the tick busy, within the query's bound
    init();
    ASSERT_EQ(WaitForSingleObject(gFirstQuery, 3000), WAIT_OBJECT_0);
    quit();
    EXPECT_FALSE(gSavedDuringStall.load()) << "settings were saved while a tick was running";
    EXPECT_TRUE(iniHasBeenSaved());
    int after = gQueries.load();
    Sleep(2500);
    EXPECT_EQ(gQueries.load(), after) << "a tick ran after quit";
}

// A resolver that sits on the tick's look-up must hold Winamp's exit no longer than
// the clear request's own limit.
TEST_F(Lifecycle, QuitDuringASlowLookUpTakesAtMostOneLookUpLimit) {
    testutil::WindowThread winamp(makeWinampWindow);
    ASSERT_TRUE(writeFile(besideIni(),
                          "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\n"
                          "Cookie=remixsid=1\r\n"));
    setHostLookupForTest(slowLookup);
    lastPlayState = "a state Winamp never reports";
    init();
    // The first tick sees a change and asks for the profile page.
    for (int waited = 0; gSlowLookupsBegun.load() == 0 && waited < 5000; waited += 50) Sleep(50);
    ASSERT_EQ(gSlowLookupsBegun.load(), 1) << "the tick never looked the service up";
    DWORD start = GetTickCount();
    quit();
    DWORD took = GetTickCount() - start;
    // The one native check of "one wait at most" (test_publish_faults.py has the end-to-end one).
    EXPECT_GE(took, unsigned(kHttpWaitMs) - 500)
        << "the clear request's look-up was not waited for";
    EXPECT_LT(took, 2u * kHttpWaitMs) << "quit waited longer than one look-up limit";
    EXPECT_EQ(gLookups.load(), 0) << "a look-up returned early";
    EXPECT_TRUE(iniHasBeenSaved());
    printf("quit during a slow look-up took %lu ms\n", static_cast<unsigned long>(took));
}

TEST_F(Lifecycle, QuitOnTheWindowsOwnThreadDoesNotDeadlock) {
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=1\r\n"));
    gOwnWindow = makeWinampWindow();
    gQuitFromQuery = true;  // the first query posts a quit to this thread mid-tick
    init();
    DWORD start = GetTickCount();
    while (!iniHasBeenSaved() && GetTickCount() - start < 10000) pumpFor(50);
    EXPECT_TRUE(iniHasBeenSaved()) << "quit never finished";
    int after = gQueries.load();
    pumpFor(2200);
    EXPECT_EQ(gQueries.load(), after);
    DestroyWindow(gOwnWindow);
}

TEST_F(Lifecycle, QuitWithPublishingOffStillSavesTheSettings) {
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=0\r\nCookie=kept\r\n"));
    init();
    editSettings([](Settings& s) { s.AuthLogin = L"me@example.org"; });
    quit();
    std::string bytes;
    ASSERT_TRUE(readFile(besideIni(), bytes));
    EXPECT_NE(bytes.find("Enabled=0"), std::string::npos);
    EXPECT_NE(bytes.find("Cookie=kept"), std::string::npos);
    EXPECT_NE(bytes.find("AuthLogin=me@example.org"), std::string::npos);
}

TEST_F(Lifecycle, InitResetsTheRuntimeState) {
    lastTrackFile = L"C:\\old.mp3";
    activityHash = "stale";
    settingsDialogOpen = true;
    securityCodePending = true;
    editSettings([](Settings& s) { s.NoLogin = true; });
    EXPECT_EQ(init(), 0);
    EXPECT_EQ(lastTrackFile, L"");
    EXPECT_EQ(activityHash, "");
    EXPECT_FALSE(settingsDialogOpen.load());
    EXPECT_FALSE(securityCodePending.load());
    EXPECT_FALSE(currentSettings().NoLogin);  // no ini: the key's default
    quit();
}

// The shipped library, known by its Unix path; Wine's drive Z: is the root.
std::wstring dllPath() {
    std::wstring path = L"Z:";
    for (const char* p = NIMBO_PLUGIN_DLL; *p; ++p) path += *p == '/' ? L'\\' : wchar_t(*p);
    return path;
}

// Quit with both windows open, then the host unloads the library and its loop goes on:
// no window of ours may be left to receive a message, and nothing pins the library.
TEST_F(Lifecycle, QuitLeavesNoWindowBehindForAnUnload) {
    ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=0\r\n"));
    HMODULE dll = LoadLibraryW(dllPath().c_str());
    ASSERT_NE(dll, nullptr);
    auto record = reinterpret_cast<PluginRecord* (*)()>(
        GetProcAddress(dll, "winampGetGeneralPurposePlugin"))();
    HWND host = makeWinampWindow();
    record->hwndParent = host;
    record->hDllInstance = dll;
    record->init();
    record->config();
    HWND settings = FindWindowW(L"NimboSettings", nullptr);
    ASSERT_NE(settings, nullptr);
    SendMessageW(settings, WM_COMMAND, MAKEWPARAM(kMoreButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(settings, kMoreButton)));
    HWND options = FindWindowW(L"NimboOptions", nullptr);
    ASSERT_NE(options, nullptr);
    pumpFor(100);
    DestroyWindow(host);
    record->quit();
    EXPECT_FALSE(IsWindow(settings));
    EXPECT_FALSE(IsWindow(options));
    WNDCLASSEXW info = {sizeof info};
    EXPECT_FALSE(GetClassInfoExW(dll, L"NimboSettings", &info));
    EXPECT_FALSE(GetClassInfoExW(dll, L"NimboOptions", &info));
    const std::wstring name = dllPath();
    FreeLibrary(dll);
    EXPECT_EQ(GetModuleHandleW(name.c_str()), nullptr) << "the library pinned itself";
    // Old windows would now run code that is gone.
    SendMessageW(settings, WM_NULL, 0, 0);
    SendMessageW(options, WM_NULL, 0, 0);
    pumpFor(200);
}

namespace {

// Another plugin that subclasses the main window after ours and forwards everything.
WNDPROC gForeignNext = nullptr;
LRESULT CALLBACK foreignProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(gForeignNext, window, message, wParam, lParam);
}

LONG_PTR procOf(HWND window) {
    return GetWindowLongPtrA(window, GWLP_WNDPROC);
}

std::wstring itemText(HMENU menu, int place) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, UINT(place), text, 64, MF_BYPOSITION);
    return text;
}

bool itemChecked(UINT command) {
    return (GetMenuState(gHostMenu, command, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void choose(HWND window, UINT command, WORD code = 0) {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, code), 0);
}

class MenuItem : public Lifecycle {
  protected:
    void SetUp() override {
        Lifecycle::SetUp();
        gHostMenu = CreatePopupMenu();
        AppendMenuW(gHostMenu, MF_STRING, 40001, L"Play file...");
        AppendMenuW(gHostMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(gHostMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"Options");
        gOptionsPos = 2;
        // An ANSI window, as the host's is: the subclass must keep it ANSI.
        window_ = makeWinampWindow();
        winampGetGeneralPurposePlugin()->hwndParent = window_;
        ASSERT_TRUE(writeFile(besideIni(), "[Gen_Nimbo]\r\nEnabled=0\r\n"));
    }
    void TearDown() override {
        winampGetGeneralPurposePlugin()->hwndParent = nullptr;
        if (IsWindow(window_)) DestroyWindow(window_);
        DestroyMenu(gHostMenu);
        gHostMenu = nullptr;
        Lifecycle::TearDown();
    }
    HWND window_ = nullptr;
};

}  // namespace

TEST_F(MenuItem, SitsAboveOptionsAndSwitchesEnabledBothWays) {
    init();
    const UINT command = winampMenuCommand();
    ASSERT_NE(command, 0u);
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 4);
    EXPECT_EQ(itemText(gHostMenu, 2), L"Publish status");
    EXPECT_EQ(itemText(gHostMenu, 3), L"Options");
    EXPECT_EQ(gOptionsPos, 3) << "the host was not told its Options menu moved";
    EXPECT_NE(command, 40001u);
    EXPECT_FALSE(itemChecked(command));
    EXPECT_FALSE(IsWindowUnicode(window_));

    struct {
        WORD code;  // 0: chosen from a menu; 1 would be an accelerator
        bool enabledAfter;
    } const steps[] = {{0, true}, {1, true}, {0, false}, {0, true}};
    for (const auto& step : steps) {
        choose(window_, command, step.code);
        EXPECT_EQ(currentSettings().Enabled, step.enabledAfter) << "code " << step.code;
        EXPECT_EQ(itemChecked(command), step.enabledAfter);
    }
    // Other commands and queries still reach the host's own procedure.
    int before = gQueries.load();
    EXPECT_EQ(SendMessageA(window_, WM_USER, 0, 280), 3);
    SendMessageA(window_, WM_USER, 1, 104);
    EXPECT_EQ(gQueries.load(), before + 1);
    choose(window_, 40001);
    EXPECT_TRUE(currentSettings().Enabled);

    // "Enabled" changed elsewhere (the settings window): the mark follows when the menu opens.
    editSettings([](Settings& s) { s.Enabled = false; });
    SendMessageA(window_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(gHostMenu), 0);
    EXPECT_FALSE(itemChecked(command));

    quit();
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 3);
    EXPECT_EQ(gOptionsPos, 2);
    EXPECT_EQ(procOf(window_), reinterpret_cast<LONG_PTR>(winampProc));
    EXPECT_EQ(winampMenuCommand(), 0u);
    choose(window_, command);
    EXPECT_FALSE(currentSettings().Enabled) << "the item's command still acts after quit";
}

TEST_F(MenuItem, ALaterSubclassKeepsOursForwardingAcrossRuns) {
    init();
    const UINT command = winampMenuCommand();
    gForeignNext = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(foreignProc)));
    choose(window_, command);
    EXPECT_TRUE(currentSettings().Enabled) << "the choice did not pass the other subclass";
    quit();
    EXPECT_EQ(procOf(window_), reinterpret_cast<LONG_PTR>(foreignProc));
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 3);
    int before = gQueries.load();
    SendMessageA(window_, WM_USER, 1, 104);
    EXPECT_EQ(gQueries.load(), before + 1) << "a message lost in the chain";
    choose(window_, command);
    EXPECT_TRUE(currentSettings().Enabled);

    // A second run on the same window reuses the procedure left in the chain.
    init();
    ASSERT_NE(winampMenuCommand(), 0u);
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 4);
    choose(window_, winampMenuCommand());
    EXPECT_FALSE(currentSettings().Enabled);
    before = gQueries.load();
    SendMessageA(window_, WM_USER, 1, 104);
    EXPECT_EQ(gQueries.load(), before + 1) << "a message went twice through the chain";
    quit();
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 3);
    // The other plugin leaves too; the window then ends with ours forwarding.
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gForeignNext));
}

TEST_F(MenuItem, WindowDestroyedBeforeQuitOrNoMenuAtAll) {
    init();
    ASSERT_NE(winampMenuCommand(), 0u);
    // The real host's order: its window goes first, then quit.
    DestroyWindow(window_);
    quit();
    EXPECT_EQ(GetMenuItemCount(gHostMenu), 3) << "the item outlived quit";
    EXPECT_EQ(winampMenuCommand(), 0u);

    // A host that answers the menu query with no menu: no item and no subclass.
    window_ = makeWinampWindow();
    winampGetGeneralPurposePlugin()->hwndParent = window_;
    HMENU kept = gHostMenu;
    gHostMenu = nullptr;
    init();
    EXPECT_EQ(winampMenuCommand(), 0u);
    EXPECT_EQ(procOf(window_), reinterpret_cast<LONG_PTR>(winampProc));
    quit();
    gHostMenu = kept;
}
