// The options window, built in code from one table of controls like the settings
// window, with the same font, colours and keyboard handling.
#include "ui/options_dialog.h"

#include <shellapi.h>

#include <memory>
#include <new>
#include <utility>

#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/server_address.h"
#include "core/settings.h"
#include "core/settings_merge.h"
#include "core/state.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/link_label.h"
#include "ui/owned_window.h"

namespace nimbo {

namespace {

const wchar_t kClassName[] = L"NimboOptions";
const wchar_t kCaption[] = L"Nimbo options";
const wchar_t kFontFace[] = L"MS Shell Dlg 2";
const int kFontHeight = 15;
const int kOuterWidth = 636;
const int kOuterHeight = 434;
const COLORREF kWarningRed = RGB(0xB0, 0x00, 0x00);
const wchar_t kPlainWords[] = L"not encrypted";
// Two columns: the plugin's own options at the left, the listening services' accounts at
// the right. One of the two account groups shows at a time; they share their place.
const DWORD kList = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                    LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT;
// clang-format off
const ControlRow kControls[] = {
    {kPrivateLabel,        L"STATIC", L"Private tracks, one a line:",    8,   5, 280,  13, kLabel,     0, kNoTab, Look::Bold,       kTextColour},
    {kPrivateEdit,         L"EDIT",   nullptr,                           8,  22, 280, 244, kBoxEdit,   WS_EX_CLIENTEDGE, 0, Look::Regular, kTextColour},
    {kOnPauseCheck,        L"BUTTON", L"Clear the status on pause",      8, 273, 280,  17, kCheck,     0, 1,      Look::Regular,    kTextColour},
    {kOnStopCheck,         L"BUTTON", L"Clear the status on stop",       8, 293, 280,  17, kCheck,     0, 2,      Look::Regular,    kTextColour},
    {kIntervalLabel,       L"STATIC", L"Seconds between two statuses:",  8, 322, 206,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kIntervalEdit,        L"EDIT",   nullptr,                         220, 318,  68,  21, kNumberEdit, WS_EX_CLIENTEDGE, 3, Look::Regular, kTextColour},
    {kLogLink,             L"STATIC", L"Open log",                       8, 378,  60,  14, kLabel,     0, kNoTab, Look::Underlined, kLinkBlue},
    {kOptionsOkButton,     L"BUTTON", L"Ok",                           471, 372,  75,  25, kPush,      0, 23,     Look::Regular,    kTextColour},
    {kOptionsCancelButton, L"BUTTON", L"Cancel",                       551, 372,  75,  25, kPush,      0, 24,     Look::Regular,    kTextColour},
    {kSecureCheck,         L"BUTTON", L"Secure connection (HTTPS)",      8, 346, 280,  17, kCheck,     0, 4,      Look::Regular,    kTextColour},
    {kListenBrainzCheck,   L"BUTTON", L"Publish to this account",      306, 169, 320,  17, kCheck,     0, 11,     Look::Regular,    kTextColour},
    {kTokenLabel,          L"STATIC", L"User token:",                  306, 195,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kTokenEdit,           L"EDIT",   nullptr,                         404, 191, 164,  21, kSecretEdit, WS_EX_CLIENTEDGE, 12, Look::Regular, kTextColour},
    {kCheckTokenButton,    L"BUTTON", L"Check",                        574, 191,  52,  21, kPush,      0, 13,     Look::Regular,    kTextColour},
    {kTokenResultLabel,    L"STATIC", nullptr,                         404, 216, 222,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kServerLabel,         L"STATIC", L"Server:",                      306, 233,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kServerEdit,          L"EDIT",   nullptr,                         404, 233, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 14, Look::Regular, kTextColour},
    {kListenBrainzLastLabel, L"STATIC", nullptr,                       306, 281, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kSendListensCheck,    L"BUTTON", L"Send listens",                 306, 261, 116,  13, kCheck,     0, 15,     Look::Regular,    kTextColour},
    {kListensWaitingLabel, L"STATIC", nullptr,                         428, 261, 198,  14, kRightLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmCheck,         L"BUTTON", L"Publish to this account",      306, 169, 320,  17, kCheck,     0, 16,     Look::Regular,    kTextColour},
    {kLastFmServerLabel,   L"STATIC", L"Server:",                      306, 192,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmServerEdit,    L"EDIT",   nullptr,                         404, 192, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 17, Look::Regular, kTextColour},
    {kLastFmKeyLabel,      L"STATIC", L"API key:",                     306, 221,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmKeyEdit,       L"EDIT",   nullptr,                         404, 217, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 18, Look::Regular, kTextColour},
    {kLastFmSecretLabel,   L"STATIC", L"Shared secret:",               306, 246,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmSecretEdit,    L"EDIT",   nullptr,                         404, 242, 222,  21, kSecretEdit, WS_EX_CLIENTEDGE, 19, Look::Regular, kTextColour},
    {kConnectButton,       L"BUTTON", L"Connect...",                   306, 269,  90,  23, kPush,      0, 20,     Look::Regular,    kTextColour},
    {kConnectStatusLabel,  L"STATIC", nullptr,                         306, 297, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kSendScrobblesCheck,  L"BUTTON", L"Send scrobbles",               306, 318, 116,  13, kCheck,     0, 22,     Look::Regular,    kTextColour},
    {kScrobblesWaitingLabel, L"STATIC", nullptr,                       428, 318, 198,  14, kRightLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmLastLabel,     L"STATIC", nullptr,                         306, 338, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    // Under "Server:" while the address is plain http; beside "Connect..." while the
    // browser could not open the permission page.
    {kListenBrainzPlainLabel, L"STATIC", nullptr,                      306, 247,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kWarningRed},
    {kLastFmPlainLabel,    L"STATIC", nullptr,                         306, 206,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kWarningRed},
    {kConnectAddressEdit,  L"EDIT",   nullptr,                         404, 269, 222,  23, kLineEdit | ES_READONLY, WS_EX_CLIENTEDGE, 21, Look::Regular, kTextColour},
    {kAccountsLabel,       L"STATIC", L"Accounts:",                    306,   5, 320,  13, kLabel,     0, kNoTab, Look::Bold,       kTextColour},
    {kAccountList,         L"LISTBOX", nullptr,                        306,  22, 320,  92, kList,      WS_EX_CLIENTEDGE, 5, Look::Regular, kTextColour},
    {kAddButton,           L"BUTTON", L"Add...",                       306, 119,  84,  23, kPush,      0, 6,      Look::Regular,    kTextColour},
    {kEditButton,          L"BUTTON", L"Edit...",                      395, 119,  84,  23, kPush,      0, 7,      Look::Regular,    kTextColour},
    {kRemoveButton,        L"BUTTON", L"Remove",                       484, 119,  84,  23, kPush,      0, 8,      Look::Regular,    kTextColour},
    // The interface of the selected account; a choice only while it was added just now.
    {kListenBrainzKindRadio, L"BUTTON", L"ListenBrainz",               306, 147, 116,  17, kRadio,     0, 9,      Look::Regular,    kTextColour},
    {kLastFmKindRadio,     L"BUTTON", L"Last.fm-style server",         428, 147, 198,  17, kRadio,     0, 10,     Look::Regular,    kTextColour},
};
// clang-format on
const int kControlCount = sizeof kControls / sizeof kControls[0];

const TableWindow kLook = {kClassName,  kCaption,     kFontFace, kFontHeight,
                           kOuterWidth, kOuterHeight, kControls, kControlCount};

// Posted to the window by the token check's thread once its answer is in.
const UINT kTokenChecked = WM_APP + 2;
// Posted by the Last.fm connect thread: a text for the label, then its result.
const UINT kLastFmSaid = WM_APP + 3;
const UINT kLastFmConnected = WM_APP + 4;
// Posted by the counting thread once every count is in.
const UINT kCounted = WM_APP + 5;
// A waiting count still being asked for.
const long kCounting = -2;

// The accounts as the window numbers them: ListenBrainz's first, then Last.fm's.
constexpr int kSlots = int(2 * kAccounts);
constexpr int kLb = int(kAccounts);  // the first Last.fm-style slot
bool isLastFm(int slot) {
    return slot >= kLb;
}
size_t accountOf(int slot) {
    return size_t(isLastFm(slot) ? slot - kLb : slot);
}

// One token check on a thread of its own, so that Winamp's window never waits for the
// network. Shared by the window and the thread; whichever lets go last frees it.
struct TokenCheckJob {
    TokenCheck check = nullptr;
    std::wstring server, token, answer;
    HWND window = nullptr;
    HMODULE module = nullptr;  // keeps the code the thread runs loaded
    LONG references = 2;
};

// The waiting counts, asked on a thread of their own: a count the lane has not made yet
// reads the queue file, behind another Winamp's lock perhaps, and Winamp's window must
// never wait for that. Shared like the token check. The queue drops after "Ok" go the
// same way, with nobody left to hear of them.
struct CountJob {
    WaitingCount counts[2] = {};
    QueueDrop drops[2] = {};
    unsigned dropping = 0;  // the slots whose queues go
    long found[kSlots];
    unsigned refused = 0;  // the slots whose token or session the server refused
    HWND window = nullptr;
    HMODULE module = nullptr;
    LONG references = 2;
};

template <class Job>
void release(Job* job) {
    if (InterlockedDecrement(&job->references) == 0) delete job;
}

// Runs `run` with `job` on a new thread that keeps the library loaded while it runs;
// false when none could be started (the job is then the caller's alone).
template <class Job>
bool startWorker(Job* job, LPTHREAD_START_ROUTINE run) {
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(run),
                       &job->module);
    HANDLE worker = CreateThread(nullptr, 0, run, job, 0, nullptr);
    if (!worker) {
        if (job->module) FreeLibrary(job->module);
        return false;
    }
    CloseHandle(worker);
    return true;
}

// The worker's end: the window hears of it, the job is let go, and so is the library.
template <class Job>
DWORD finishWorker(Job* job, UINT message) {
    PostMessageW(job->window, message, 0, reinterpret_cast<LPARAM>(job));
    const HMODULE module = job->module;
    release(job);
    // The window, and Winamp with it, may have let the library go meanwhile.
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

DWORD WINAPI checkOnWorker(void* context) {
    auto* job = static_cast<TokenCheckJob*>(context);
    try {
        job->answer = job->check(job->server, job->token);
    } catch (...) {
        job->answer.clear();
    }
    return finishWorker(job, kTokenChecked);
}

DWORD WINAPI countOnWorker(void* context) {
    auto* job = static_cast<CountJob*>(context);
    for (int slot = 0; slot < kSlots; ++slot) {
        const WaitingCount count = job->counts[isLastFm(slot)];
        const QueueDrop drop = job->drops[isLastFm(slot)];
        bool refused = false;
        job->found[slot] = -1;
        try {
            if (job->dropping >> slot & 1) {
                if (drop) drop(accountOf(slot));
            } else if (count && !job->dropping) {
                job->found[slot] = count(accountOf(slot), refused);
            }
        } catch (...) {
        }
        if (refused) job->refused |= 1u << slot;
    }
    return finishWorker(job, kCounted);
}

struct Dialog {
    HWND window = nullptr;
    HWND owner = nullptr;
    Font fonts[kLookCount];  // indexed by Look
    COLORREF linkColour = kLinkBlue;
    bool trackingLeave = false;
    bool raisedOpenFlag = false;  // this window switched settingsDialogOpen on
    HWND savedFocus = nullptr;
    int intervalShown = kDefaultMinInterval;
    TokenCheckJob* check = nullptr;    // the token check under way, shared with its thread
    ConnectJob* connecting = nullptr;  // Last.fm's connect under way, shared likewise
    CountJob* count = nullptr;         // the waiting counts being asked for
    // The accounts as edited here, in their keys (core/accounts.h); "Ok" copies them.
    Settings work;
    int shown = -1;         // the slot the group edits; -1: none (no account)
    bool loading = false;   // the group is being filled: its boxes' changes are no edits
    unsigned added = 0;     // slots added here: their interface is still to choose
    unsigned refused = 0;   // slots whose token or session the server refused
    unsigned dropping = 0;  // slots removed with their queues: "Ok" drops those
    long waiting[kSlots];
    int rowSlot[kSlots];  // the list's rows
    // The shown Last.fm-style account's session, with the server and API key it was
    // granted for: the one at opening, one Connect gave, or none after Disconnect.
    std::wstring session, user, sessionServer, sessionKey;
    std::wstring askedServer, askedKey;  // what the connect under way was started with

    HWND operator[](OptionsControlId id) const { return GetDlgItem(window, id); }
};

Dialog* gOpen = nullptr;  // only Winamp's thread touches it
TokenCheck gTokenCheck = nullptr;
WaitingCount gCounts[2] = {};
QueueDrop gDrops[2] = {};
LastFmName gLastFmName = nullptr;
LastFmConnect gLastFmConnect = nullptr;
WNDPROC gStaticProc = nullptr;
LogOpener gOpener = nullptr;

// The box's number, within the settings' range; the value shown at opening when the
// box holds no digits (the box takes digits only, but pasted text can get past that).
int intervalFrom(const std::wstring& text, int fallback) {
    long long value = 0;
    bool digits = false;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return fallback;
        digits = true;
        if (value <= kMaxMinInterval) value = value * 10 + (c - L'0');
    }
    if (!digits) return fallback;
    return value > kMaxMinInterval ? kMaxMinInterval : int(value);
}

// An account's keys in `Settings`: its two numbers (on, and listens or scrobbles) and
// its texts, for copying, emptying and asking whether it is set at all.
struct SlotKeys {
    int Settings::*numbers[2];
    std::wstring Settings::*texts[7];
    int textCount;
};

SlotKeys keysOf(int slot) {
    if (!isLastFm(slot)) {
        const ListenBrainzKeys& k = kListenBrainzAccounts[slot];
        return {{k.on, k.listens}, {k.token, k.server}, 2};
    }
    const LastFmKeys& k = kLastFmAccounts[accountOf(slot)];
    return {{k.on, k.scrobbles},
            {k.server, k.key, k.secret, k.session, k.user, k.sessionServer, k.sessionApiKey},
            7};
}

// An account is there while it is switched on or holds any text; a removed one is
// emptied back to the defaults, so an earlier version reads it as never set.
bool configured(const Settings& s, int slot) {
    const SlotKeys k = keysOf(slot);
    bool any = s.*k.numbers[0] == 1;
    for (int i = 0; i < k.textCount; ++i) any = any || !(s.*k.texts[i]).empty();
    return any;
}

// Copies the account's keys, or with no `from` empties them to their defaults (off,
// listens on).
void copyAccount(Settings& to, const Settings* from, int slot) {
    const SlotKeys k = keysOf(slot);
    for (int i = 0; i < 2; ++i) to.*k.numbers[i] = from ? from->*k.numbers[i] : i;
    for (int i = 0; i < k.textCount; ++i) to.*k.texts[i] = from ? from->*k.texts[i] : L"";
}

bool listed(const Dialog& d, int slot) {
    return configured(d.work, slot) || (d.added >> slot & 1);
}

// The first slot of that interface with no account, or -1.
int freeSlot(const Dialog& d, bool lastFm) {
    for (int slot = lastFm ? kLb : 0; slot < (lastFm ? kSlots : kLb); ++slot)
        if (!listed(d, slot)) return slot;
    return -1;
}

ResultLine resultLineOf(int slot) {
    const int account = int(accountOf(slot));
    if (isLastFm(slot))
        return account == 0 ? ResultLine::lastFm
                            : ResultLine(int(ResultLine::lastFmMore) + account - 1);
    return account == 0 ? ResultLine::listenBrainz
                        : ResultLine(int(ResultLine::listenBrainzMore) + account - 1);
}

std::wstring waitingWords(long count) {
    // Narrow to_string: the wide one links the C library's printf family.
    return count == kCounting ? std::wstring(L"\x2026")
           : count < 0        ? std::wstring(L"not known")
                              : decimalText(count);
}

// What the log and the windows call the account: "ListenBrainz", "Libre.fm", a host.
std::wstring nameOf(const Dialog& d, int slot) {
    const size_t account = accountOf(slot);
    if (!isLastFm(slot)) return listenBrainzAccountName(d.work, account);
    return gLastFmName ? gLastFmName(d.work, account) : std::wstring(L"Last.fm");
}

// A row of the list: "Libre.fm: on, connected as anna, waiting: 12".
std::wstring rowText(const Dialog& d, int slot) {
    const Settings& w = d.work;
    const SlotKeys k = keysOf(slot);
    const bool lastFm = isLastFm(slot), refused = d.refused >> slot & 1;
    // A Last.fm-style session counts only for the server and key it was granted for.
    const bool in = !trimBlanks(lastFm ? lastFmSessionInUse(w, kLastFmAccounts[accountOf(slot)])
                                       : w.*k.texts[0])
                         .empty();
    const wchar_t* state = refused  ? L"refused"
                           : !in    ? L"not connected"
                           : lastFm ? L"connected as "
                                    : L"valid";
    return joined({nameOf(d, slot), w.*k.numbers[0] == 1 ? L": on, " : L": off, ", state,
                   lastFm && in && !refused ? std::wstring_view(w.*k.texts[4]) : L"",
                   L", waiting: ", waitingWords(d.waiting[slot])});
}

// The rows anew, the shown account's selected; a row wider than the list scrolls.
void fillList(Dialog& d) {
    HWND list = d[kAccountList];
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    HDC dc = GetDC(list);
    HGDIOBJ font =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    int rows = 0, widest = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!listed(d, slot)) continue;
        const std::wstring text = rowText(d, slot);
        SIZE size = {};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
        if (size.cx > widest) widest = size.cx;
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (slot == d.shown) SendMessageW(list, LB_SETCURSEL, rows, 0);
        d.rowSlot[rows++] = slot;
    }
    SelectObject(dc, font);
    ReleaseDC(list, dc);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, widest + 6, 0);
    EnableWindow(d[kAddButton], freeSlot(d, false) >= 0 || freeSlot(d, true) >= 0);
    EnableWindow(d[kEditButton], d.shown >= 0);
    // Whether to ask waits for the account's count.
    EnableWindow(d[kRemoveButton], d.shown >= 0 && d.waiting[d.shown] != kCounting);
}

void closeDialog(Dialog& d) {
    // The owner comes back before this window goes, so the focus returns to it.
    if (d.owner && IsWindow(d.owner)) {
        EnableWindow(d.owner, TRUE);
        SetForegroundWindow(d.owner);
    }
    ShowWindow(d.window, SW_HIDE);
    if (gOpen == &d) gOpen = nullptr;
    if (d.raisedOpenFlag) settingsDialogOpen = false;
    d.raisedOpenFlag = false;
    PostMessageW(d.window, kRetireMessage, 0, 0);
}

// Says why the server address in `editId` cannot be used and leaves the window open at
// that box. Quit can come inside the box's own loop and take the window with its state:
// after the box only the handle is asked.
void refuseServer(HWND window, int editId, const wchar_t* whose, const std::wstring& why) {
    const std::wstring text =
        std::wstring(L"The ") + whose + L"server address cannot be used: " + why + L".";
    MessageBoxW(window, text.c_str(), kCaption, MB_OK | MB_ICONWARNING);
    if (!IsWindow(window)) return;
    HWND edit = GetDlgItem(window, editId);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

void showPlain(Dialog& d, OptionsControlId editId, OptionsControlId labelId);
void showSession(Dialog& d);
void startCounts(Dialog& d, unsigned dropping);

// Each interface's group as it maps onto SlotKeys: the two check boxes onto the
// numbers, the boxes onto the first texts; a Last.fm-style account's session makes the
// rest.
const struct {
    OptionsControlId checks[2], edits[3];
    int editCount;
} kGroups[2] = {
    {{kListenBrainzCheck, kSendListensCheck}, {kTokenEdit, kServerEdit}, 2},
    {{kLastFmCheck, kSendScrobblesCheck},
     {kLastFmServerEdit, kLastFmKeyEdit, kLastFmSecretEdit},
     3},
};

// The group's boxes into the shown account's keys, or (`load`) the other way.
void moveGroup(Dialog& d, bool load) {
    const SlotKeys k = keysOf(d.shown);
    const auto& g = kGroups[isLastFm(d.shown)];
    Settings& w = d.work;
    std::wstring* granted[] = {&d.session, &d.user, &d.sessionServer, &d.sessionKey};
    for (int i = 0; i < 2; ++i) {
        if (load)
            setChecked(d[g.checks[i]], w.*k.numbers[i] == 1);
        else
            w.*k.numbers[i] = isChecked(d[g.checks[i]]) ? 1 : 0;
    }
    for (int i = 0; i < k.textCount; ++i) {
        std::wstring& text = w.*k.texts[i];
        if (i >= g.editCount)
            load ? void(*granted[i - g.editCount] = text) : void(text = *granted[i - g.editCount]);
        else if (load)
            SetWindowTextW(d[g.edits[i]], text.c_str());
        else
            text = windowText(d[g.edits[i]]);
    }
}

void storeGroup(Dialog& d) {
    if (d.shown >= 0 && !d.loading) moveGroup(d, false);
}

// The shown account's count under its group.
void showWaiting(Dialog& d) {
    if (d.shown < 0) return;
    const bool lastFm = isLastFm(d.shown);
    SetWindowTextW(d[lastFm ? kScrobblesWaitingLabel : kListensWaitingLabel],
                   joined({lastFm ? L"Scrobbles" : L"Listens", L" waiting: ",
                           waitingWords(d.waiting[d.shown])})
                       .c_str());
}

// The group of the shown account's interface, filled from its keys; the other hidden.
void loadGroup(Dialog& d) {
    const bool any = d.shown >= 0, lastFm = isLastFm(d.shown);
    d.loading = true;
    for (int id = kListenBrainzCheck; id <= kLastFmPlainLabel; ++id) {
        const bool lastFmRow = id >= kLastFmCheck && id != kListenBrainzPlainLabel;
        ShowWindow(GetDlgItem(d.window, id), any && lastFmRow == lastFm ? SW_SHOW : SW_HIDE);
    }
    ShowWindow(d[kConnectAddressEdit], SW_HIDE);
    for (OptionsControlId radio : {kListenBrainzKindRadio, kLastFmKindRadio}) {
        const bool mine = (radio == kLastFmKindRadio) == lastFm;
        ShowWindow(d[radio], any ? SW_SHOW : SW_HIDE);
        setChecked(d[radio], mine);
        // Added here: the other interface may still be chosen while it has room.
        EnableWindow(d[radio], any && (d.added >> d.shown & 1) &&
                                   (mine || freeSlot(d, radio == kLastFmKindRadio) >= 0));
    }
    if (any) {
        moveGroup(d, true);
        SetWindowTextW(d[kTokenResultLabel], L"");
        SetWindowTextW(d[kConnectStatusLabel], L"");
        showSession(d);
        showPlain(d, kServerEdit, kListenBrainzPlainLabel);
        showPlain(d, kLastFmServerEdit, kLastFmPlainLabel);
        SetWindowTextW(d[lastFm ? kLastFmLastLabel : kListenBrainzLastLabel],
                       lastResultText(resultLineOf(d.shown)).c_str());
        showWaiting(d);
    }
    d.loading = false;
}

// A check or a connect answers for the account it was started for: switching drops it.
void dropPending(Dialog& d) {
    if (d.check) release(d.check);
    d.check = nullptr;
    EnableWindow(d[kCheckTokenButton], TRUE);
    if (d.connecting) stopConnect(*d.connecting);
    releaseConnect(d.connecting);
    d.connecting = nullptr;
}

// The group edits `slot` from now on (-1: none).
void showSlot(Dialog& d, int slot) {
    storeGroup(d);
    dropPending(d);
    d.shown = slot;
    fillList(d);
    loadGroup(d);
}

// The account with the first row, after one went.
int firstListed(const Dialog& d) {
    for (int slot = 0; slot < kSlots; ++slot)
        if (listed(d, slot)) return slot;
    return -1;
}

// Add...: a ListenBrainz account while one is free, else a Last.fm-style one, switched
// on; the focus goes to the interface choice, which the two buttons ask for.
void addAccount(Dialog& d) {
    int slot = freeSlot(d, false);
    if (slot < 0) slot = freeSlot(d, true);
    if (slot < 0) return;
    d.added |= 1u << slot;
    d.work.*keysOf(slot).numbers[0] = 1;
    showSlot(d, slot);
    SetFocus(d[isLastFm(slot) ? kLastFmKindRadio : kListenBrainzKindRadio]);
}

// An account added here takes the other interface: it moves to that one's free slot.
void chooseKind(Dialog& d, bool lastFm) {
    const int from = d.shown;
    if (from < 0 || isLastFm(from) == lastFm || !(d.added >> from & 1)) return;
    const int to = freeSlot(d, lastFm);
    if (to < 0) return;
    copyAccount(d.work, nullptr, from);
    d.added = (d.added & ~(1u << from)) | 1u << to;
    d.work.*keysOf(to).numbers[0] = 1;
    d.shown = -1;  // nothing of the old group is stored
    showSlot(d, to);
}

// "12 scrobbles wait for Libre.fm. Remove them too?"
std::wstring removeQuestion(const Dialog& d, int slot, long count) {
    const bool one = count == 1;
    const wchar_t* what =
        isLastFm(slot) ? (one ? L" scrobble" : L" scrobbles") : (one ? L" listen" : L" listens");
    return joined({decimalText(count), what, one ? L" waits for " : L" wait for ", nameOf(d, slot),
                   one ? L". Remove it too?" : L". Remove them too?"});
}

// Remove: an account whose queue holds listens asks first. Yes removes it and, on "Ok",
// its queue; No and Cancel keep it.
void removeAccount(Dialog& d) {
    const int slot = d.shown;
    if (slot < 0 || d.waiting[slot] == kCounting) return;
    storeGroup(d);
    const long count = d.waiting[slot];
    bool drop = false;
    if (count > 0) {
        const HWND window = d.window;
        const int answer = MessageBoxW(window, removeQuestion(d, slot, count).c_str(), kCaption,
                                       MB_YESNOCANCEL | MB_ICONQUESTION);
        // Quit can come inside the box's loop and take the window with this state.
        if (ownedState<Dialog>(window) != &d || answer != IDYES) return;
        drop = true;
    }
    copyAccount(d.work, nullptr, slot);
    d.added &= ~(1u << slot);
    d.refused &= ~(1u << slot);
    if (drop) {
        d.dropping |= 1u << slot;
        d.waiting[slot] = 0;
    }
    d.shown = -1;
    showSlot(d, firstListed(d));
    SetFocus(d[kAccountList]);
}

// Every server box by the same rule, ListenBrainz's always, a Last.fm-style one while
// it is on (empty: the service's own). False once one was refused; its account shows.
bool serversUsable(Dialog& d) {
    for (int slot = 0; slot < kSlots; ++slot) {
        const bool lastFm = isLastFm(slot);
        const SlotKeys k = keysOf(slot);
        if (lastFm && d.work.*k.numbers[0] != 1) continue;
        const ServerAddress address = readServerAddress(d.work.*k.texts[lastFm ? 0 : 1]);
        if (address.ok) continue;
        showSlot(d, slot);
        refuseServer(d.window, lastFm ? kLastFmServerEdit : kServerEdit, lastFm ? L"Last.fm " : L"",
                     address.why);
        return false;
    }
    return true;
}

void acceptEdits(Dialog& d) {
    storeGroup(d);
    if (!serversUsable(d)) return;
    const std::wstring words = windowText(d[kPrivateEdit]);
    const bool onPause = isChecked(d[kOnPauseCheck]);
    const bool onStop = isChecked(d[kOnStopCheck]);
    const int interval = intervalFrom(windowText(d[kIntervalEdit]), d.intervalShown);
    const bool secure = isChecked(d[kSecureCheck]);
    const Settings& work = d.work;
    editSettings([&](Settings& s) {
        for (int slot = 0; slot < kSlots; ++slot) copyAccount(s, &work, slot);
        s.PrivateWords = words;
        s.OnPause = onPause ? 1 : 0;
        s.OnStop = onStop ? 1 : 0;
        s.MinInterval = interval;
        s.Secure = secure ? 1 : 0;
    });
    if (d.dropping) startCounts(d, d.dropping);
    closeDialog(d);
}

void openLog() {
    try {
        const std::wstring path = activityLogPath();
        if (gOpener) {
            gOpener(path);
        } else {
            // A log not written yet simply does not open; nothing is reported.
            ShellExecuteW(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        }
    } catch (...) {
        // Nothing may reach Winamp's message loop.
    }
}

void setLinkColour(Dialog& d, COLORREF colour) {
    d.linkColour = colour;
    InvalidateRect(d[kLogLink], nullptr, TRUE);
}

// The link reacts to the mouse like the settings window's: red while pressed, opened
// on release, blue again when the pointer leaves.
LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    // Opening can run a message loop in which Winamp quits: the library stays loaded
    // until we are back.
    const OurCodeRunning running;
    Dialog* d = ownedState<Dialog>(GetParent(link));
    if (d) {
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                setLinkColour(*d, kLinkRed);
                break;
            case WM_LBUTTONUP:
                openLog();
                // The link, or the whole window with this state, may be gone by now.
                if (!IsWindow(link)) return 0;
                d = ownedState<Dialog>(GetParent(link));
                if (d) setLinkColour(*d, kLinkBlue);
                break;
            case WM_MOUSEMOVE:
                if (!d->trackingLeave) {
                    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, link, 0};
                    d->trackingLeave = TrackMouseEvent(&track) != FALSE;
                }
                break;
            case WM_MOUSELEAVE:
                d->trackingLeave = false;
                setLinkColour(*d, kLinkBlue);
                break;
        }
    }
    return CallWindowProcW(gStaticProc, link, message, wParam, lParam);
}

COLORREF colourOf(const Dialog& d, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (id == kLogLink) return d.linkColour;
    return rowColour(kControls, kControlCount, id);
}

void startTokenCheck(Dialog& d) {
    if (d.check || !gTokenCheck) return;
    // An address no request could go to needs no network to tell.
    const ServerAddress address = readServerAddress(windowText(d[kServerEdit]));
    if (!address.ok) {
        SetWindowTextW(d[kTokenResultLabel], (L"Not valid: " + address.why).c_str());
        return;
    }
    auto* job = new (std::nothrow) TokenCheckJob;
    if (!job) return;
    job->check = gTokenCheck;
    job->server = windowText(d[kServerEdit]);
    job->token = windowText(d[kTokenEdit]);
    job->window = d.window;
    if (!startWorker(job, checkOnWorker)) {
        delete job;
        return;
    }
    d.check = job;
    EnableWindow(d[kCheckTokenButton], FALSE);
    SetWindowTextW(d[kTokenResultLabel], L"Checking...");
}

void onTokenChecked(Dialog& d, TokenCheckJob* job) {
    if (!job || job != d.check) return;
    SetWindowTextW(d[kTokenResultLabel], job->answer.c_str());
    EnableWindow(d[kCheckTokenButton], TRUE);
    d.check = nullptr;
    release(job);
}

// Whether the session the window holds may go to the server and API key typed now.
bool sessionUsable(const Dialog& d) {
    return !d.session.empty() &&
           sessionFits(d.sessionServer, d.sessionKey, windowText(d[kLastFmServerEdit]),
                       windowText(d[kLastFmKeyEdit]));
}

// The button offers what a click would do: stop the connect under way, forget the
// session, or connect.
void showConnectButton(Dialog& d) {
    const wchar_t* text = d.connecting ? L"Stop" : sessionUsable(d) ? L"Disconnect" : L"Connect...";
    SetWindowTextW(d[kConnectButton], text);
}

// The session as the typed server and key find it (a session for another server is
// none), unless a connect under way has the label.
void showSession(Dialog& d) {
    if (d.connecting) return;
    if (sessionUsable(d))
        SetWindowTextW(d[kConnectStatusLabel], (L"Connected as " + d.user).c_str());
    else if (!d.session.empty())
        SetWindowTextW(d[kConnectStatusLabel], L"Not connected");
    showConnectButton(d);
}

// "not encrypted" under a server box while its address is plain http: the token or
// session key would cross the network readable.
void showPlain(Dialog& d, OptionsControlId editId, OptionsControlId labelId) {
    const ServerAddress address = readServerAddress(windowText(d[editId]));
    const bool plain = address.ok && equalsNoCase(address.url.scheme, std::string("http"));
    SetWindowTextW(d[labelId], plain ? kPlainWords : L"");
}

void onEdited(Dialog& d, int id) {
    if (id == kServerEdit) showPlain(d, kServerEdit, kListenBrainzPlainLabel);
    if (id == kLastFmServerEdit) showPlain(d, kLastFmServerEdit, kLastFmPlainLabel);
    if (id == kLastFmServerEdit || id == kLastFmKeyEdit) showSession(d);
    // Other credentials than those refused: the refusal no longer says anything.
    if (!d.loading && d.shown >= 0 &&
        (id == kTokenEdit || id == kLastFmKeyEdit || id == kLastFmSecretEdit))
        d.refused &= ~(1u << d.shown);
}

// Edit...: into the selected account's group.
void editAccount(Dialog& d) {
    if (d.shown >= 0) SetFocus(d[isLastFm(d.shown) ? kLastFmCheck : kListenBrainzCheck]);
}

// The keyboard on the list: Enter edits, Delete removes; -1: the list's own key.
// Remove's question waits until the list's key is over: quit may come in it.
LRESULT onListKey(Dialog& d, WPARAM key) {
    if (LOWORD(key) == VK_RETURN) editAccount(d);
    if (LOWORD(key) == VK_DELETE)
        PostMessageW(d.window, WM_COMMAND, kRemoveButton, LPARAM(d[kRemoveButton]));
    return LOWORD(key) == VK_RETURN || LOWORD(key) == VK_DELETE ? -2 : -1;
}

void onListCommand(Dialog& d, int code) {
    const LRESULT row = SendMessageW(d[kAccountList], LB_GETCURSEL, 0, 0);
    if (code == LBN_SELCHANGE && row >= 0 && row < kSlots && d.rowSlot[row] != d.shown)
        showSlot(d, d.rowSlot[row]);
    if (code == LBN_DBLCLK) editAccount(d);
}

void startLastFmConnect(Dialog& d) {
    const std::wstring server = windowText(d[kLastFmServerEdit]);
    const ServerAddress address = readServerAddress(server);
    if (!address.ok) {
        SetWindowTextW(d[kConnectStatusLabel], (L"Not valid: " + address.why).c_str());
        return;
    }
    d.askedServer = server;
    d.askedKey = windowText(d[kLastFmKeyEdit]);
    d.connecting =
        startConnect(gLastFmConnect, server, d.askedKey, windowText(d[kLastFmSecretEdit]), d.window,
                     kLastFmSaid, kLastFmConnected);
    if (!d.connecting) return;
    SetWindowTextW(d[kConnectStatusLabel], L"Connecting...");
    showConnectButton(d);
}

void onConnectClicked(Dialog& d) {
    if (d.connecting) {
        stopConnect(*d.connecting);
        SetWindowTextW(d[kConnectStatusLabel], L"Stopping...");
        return;
    }
    if (sessionUsable(d)) {
        d.session.clear();
        d.user.clear();
        d.sessionServer.clear();
        d.sessionKey.clear();
        SetWindowTextW(d[kConnectStatusLabel], L"Not connected");
        showConnectButton(d);
        return;
    }
    if (gLastFmConnect) startLastFmConnect(d);
}

void onLastFmSaid(Dialog& d, ConnectJob* job) {
    if (!job || job != d.connecting) return;
    const std::wstring said = lastSaid(*job);
    if (!said.empty()) SetWindowTextW(d[kConnectStatusLabel], said.c_str());
    // No browser took the page: the user can copy its address into one.
    const std::wstring page = pageToCopy(*job);
    if (page.empty()) return;
    SetWindowTextW(d[kConnectAddressEdit], page.c_str());
    ShowWindow(d[kConnectAddressEdit], SW_SHOW);
}

void onLastFmConnected(Dialog& d, ConnectJob* job) {
    if (!job || job != d.connecting) return;
    const ConnectResult& result = connectResult(*job);
    if (result.ok) {
        d.session = result.session;
        d.user = result.user;
        d.sessionServer = d.askedServer;
        d.sessionKey = d.askedKey;
        d.refused &= ~(1u << d.shown);
    }
    // The page's token is spent either way.
    ShowWindow(d[kConnectAddressEdit], SW_HIDE);
    // After Stop the flow's own reason for ending says nothing the user does not know.
    const bool quiet = result.words.empty() || (connectStopped(*job) && !result.ok);
    SetWindowTextW(d[kConnectStatusLabel], quiet ? L"Not connected" : result.words.c_str());
    d.connecting = nullptr;
    releaseConnect(job);
    showConnectButton(d);
    storeGroup(d);
    fillList(d);
}

void onCommand(Dialog& d, WPARAM wParam, LPARAM lParam) {
    if (gOpen != &d) return;
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (reinterpret_cast<HWND>(lParam) != GetDlgItem(d.window, id)) return;
    if (id == kAccountList) return onListCommand(d, code);
    if (code == EN_CHANGE) onEdited(d, id);
    // The group's edits show in the account's row at once.
    if ((code == EN_CHANGE || code == BN_CLICKED) && id >= kListenBrainzCheck &&
        id <= kConnectAddressEdit && !d.loading) {
        storeGroup(d);
        fillList(d);
    }
    if (code != BN_CLICKED) return;
    // Enter and Escape as a host's IsDialogMessage turns them into commands.
    if (id == IDOK && GetFocus() == d[kAccountList]) editAccount(d);
    if (id == kOptionsOkButton) acceptEdits(d);
    if (id == kOptionsCancelButton || id == IDCANCEL) closeDialog(d);
    if (id == kCheckTokenButton) startTokenCheck(d);
    if (id == kConnectButton) onConnectClicked(d);
    if (id == kAddButton) addAccount(d);
    if (id == kEditButton) editAccount(d);
    if (id == kRemoveButton) removeAccount(d);
    if (id == kListenBrainzKindRadio || id == kLastFmKindRadio)
        chooseKind(d, id == kLastFmKindRadio);
}

// Asks every account's count, or (`dropping`, after "Ok") empties those slots' queues.
void startCounts(Dialog& d, unsigned dropping) {
    for (long& count : d.waiting) count = gCounts[0] || gCounts[1] ? kCounting : -1;
    if (!dropping && !gCounts[0] && !gCounts[1]) return;
    auto* job = new (std::nothrow) CountJob;
    if (!job) return;
    for (int i = 0; i < 2; ++i) job->counts[i] = gCounts[i], job->drops[i] = gDrops[i];
    job->dropping = dropping;
    job->window = d.window;
    if (!startWorker(job, countOnWorker)) {
        delete job;
        for (long& count : d.waiting) count = -1;
        return;
    }
    if (dropping)
        release(job);  // nobody waits for the answer
    else
        d.count = job;
}

void onCounted(Dialog& d, CountJob* job) {
    if (!job || job != d.count) return;
    for (int slot = 0; slot < kSlots; ++slot) {
        // A count of an interface nobody counts stays not known.
        if (!(d.dropping >> slot & 1)) d.waiting[slot] = job->found[slot];
    }
    d.refused |= job->refused;
    d.count = nullptr;
    release(job);
    fillList(d);
    showWaiting(d);
}

void restoreFocus(Dialog& d) {
    HWND target = d.savedFocus;
    if (!target || !IsWindow(target)) target = d[kPrivateEdit];
    SetFocus(target);
}

LRESULT handleMessage(Dialog& d, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            onCommand(d, wParam, lParam);
            return 0;
        case kTokenChecked:
            onTokenChecked(d, reinterpret_cast<TokenCheckJob*>(lParam));
            return 0;
        case kLastFmSaid:
            onLastFmSaid(d, reinterpret_cast<ConnectJob*>(lParam));
            return 0;
        case kLastFmConnected:
            onLastFmConnected(d, reinterpret_cast<ConnectJob*>(lParam));
            return 0;
        case kCounted:
            onCounted(d, reinterpret_cast<CountJob*>(lParam));
            return 0;
        case WM_VKEYTOITEM:
            return onListKey(d, wParam);
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            return tableColours(message, wParam, colourOf(d, reinterpret_cast<HWND>(lParam)));
        case WM_CLOSE:
            // Any close request other than the two buttons counts as "Cancel".
            if (gOpen == &d) closeDialog(d);
            return 0;
        case WM_ACTIVATE:
            if (!rememberFocus(window, wParam, d.savedFocus)) restoreFocus(d);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Destroyed while open (with its owner, say): nothing may stay switched off.
void onDestroyed(Dialog& d) {
    // A check still under way answers to nobody now.
    if (d.check) release(d.check);
    d.check = nullptr;
    if (d.count) release(d.count);
    d.count = nullptr;
    // A connect still waiting for the browser ends: nobody could take its session.
    if (d.connecting) stopConnect(*d.connecting);
    releaseConnect(d.connecting);
    d.connecting = nullptr;
    if (gOpen != &d) return;
    gOpen = nullptr;
    if (d.raisedOpenFlag) settingsDialogOpen = false;
    if (d.owner && IsWindow(d.owner)) EnableWindow(d.owner, TRUE);
}

void fillFromSettings(Dialog& d, const Settings& s) {
    SendMessageW(d[kPrivateEdit], EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(d[kPrivateEdit], s.PrivateWords.c_str());
    setChecked(d[kOnPauseCheck], s.OnPause == 1);
    setChecked(d[kOnStopCheck], s.OnStop == 1);
    setChecked(d[kSecureCheck], s.Secure == 1);
    d.work = s;
    startCounts(d, 0);
    d.shown = firstListed(d);
    fillList(d);
    loadGroup(d);
    SendMessageW(d[kIntervalEdit], EM_SETLIMITTEXT, 4, 0);  // up to 3600
    // Narrow to_string: the wide one links the C library's printf family.
    SetWindowTextW(d[kIntervalEdit], decimalText(s.MinInterval).c_str());
    d.intervalShown = s.MinInterval;
}

bool buildDialog(HWND owner) {
    const Settings settings = currentSettings();
    std::unique_ptr<Dialog> owned(new Dialog);
    owned->owner = owner && IsWindow(owner) ? owner : nullptr;
    HWND ownerWindow = owned->owner;
    // Like the settings window: a thin border and a caption, no system menu.
    Dialog* made = createTableWindow(
        std::move(owned), kLook, ownedWindowProc<Dialog, kClassName, handleMessage, onDestroyed>,
        ownerWindow);
    if (!made) return false;
    Dialog& d = *made;
    HWND window = d.window;
    arrangeTabOrder(window, kControls, kControlCount);
    centreWindow(window, kOuterWidth, kOuterHeight);
    gStaticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(d[kLogLink], GWLP_WNDPROC));
    SetWindowLongPtrW(d[kLogLink], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
    fillFromSettings(d, settings);

    // The tick stays idle while the user edits, as for the settings window.
    d.raisedOpenFlag = !settingsDialogOpen;
    settingsDialogOpen = true;
    gOpen = &d;
    if (d.owner) EnableWindow(d.owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(d[kPrivateEdit]);
    return true;
}

}  // namespace

void showOptionsDialog(HWND owner) {
    try {
        if (gOpen) {
            SetWindowPos(gOpen->window, HWND_TOP, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER);
            SetForegroundWindow(gOpen->window);
            return;
        }
        buildDialog(owner);
    } catch (...) {
        // Nothing may reach Winamp's message loop.
    }
}

void closeOptionsDialogAtQuit() {
    // The window's end stops its connect; quit has raised the flag its waits watch, so
    // the thread is out of our code within a moment.
    destroyClassWindows(kClassName);
    waitForConnectThreads(2000);
}

const TableWindow& optionsWindowTable() {
    return kLook;
}

HWND optionsDialogWindow() {
    return gOpen ? gOpen->window : nullptr;
}

void setTokenCheck(TokenCheck check) {
    gTokenCheck = check;
}

void setListensCount(WaitingCount count) {
    gCounts[0] = count;
}

void setScrobblesCount(WaitingCount count) {
    gCounts[1] = count;
}

void setQueueDrops(QueueDrop listens, QueueDrop scrobbles) {
    gDrops[0] = listens;
    gDrops[1] = scrobbles;
}

void setLastFmName(LastFmName name) {
    gLastFmName = name;
}

void setLastFmConnect(LastFmConnect connect) {
    gLastFmConnect = connect;
}

void setLogOpenerForTest(LogOpener opener) {
    gOpener = opener;
}

}  // namespace nimbo
