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
// Two columns: the plugin's own options at the left, the listening services at the right.
// clang-format off
const ControlRow kControls[] = {
    {kPrivateLabel,        L"STATIC", L"Private tracks, one a line:",    8,   5, 280,  13, kLabel,     0, kNoTab, Look::Bold,       kTextColour},
    {kPrivateEdit,         L"EDIT",   nullptr,                           8,  22, 280, 244, kBoxEdit,   WS_EX_CLIENTEDGE, 0, Look::Regular, kTextColour},
    {kOnPauseCheck,        L"BUTTON", L"Clear the status on pause",      8, 273, 280,  17, kCheck,     0, 1,      Look::Regular,    kTextColour},
    {kOnStopCheck,         L"BUTTON", L"Clear the status on stop",       8, 293, 280,  17, kCheck,     0, 2,      Look::Regular,    kTextColour},
    {kIntervalLabel,       L"STATIC", L"Seconds between two statuses:",  8, 322, 206,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kIntervalEdit,        L"EDIT",   nullptr,                         220, 318,  68,  21, kNumberEdit, WS_EX_CLIENTEDGE, 3, Look::Regular, kTextColour},
    {kLogLink,             L"STATIC", L"Open log",                       8, 378,  60,  14, kLabel,     0, kNoTab, Look::Underlined, kLinkBlue},
    {kOptionsOkButton,     L"BUTTON", L"Ok",                           471, 372,  75,  25, kPush,      0, 17,     Look::Regular,    kTextColour},
    {kOptionsCancelButton, L"BUTTON", L"Cancel",                       551, 372,  75,  25, kPush,      0, 18,     Look::Regular,    kTextColour},
    {kSecureCheck,         L"BUTTON", L"Secure connection (HTTPS)",      8, 346, 280,  17, kCheck,     0, 4,      Look::Regular,    kTextColour},
    {kListenBrainzLabel,   L"STATIC", L"ListenBrainz",                 306,   5, 320,  13, kLabel,     0, kNoTab, Look::Bold,       kTextColour},
    {kListenBrainzCheck,   L"BUTTON", L"Publish to ListenBrainz",      306,  22, 320,  17, kCheck,     0, 5,      Look::Regular,    kTextColour},
    {kTokenLabel,          L"STATIC", L"User token:",                  306,  48,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kTokenEdit,           L"EDIT",   nullptr,                         404,  44, 164,  21, kSecretEdit, WS_EX_CLIENTEDGE, 6, Look::Regular, kTextColour},
    {kCheckTokenButton,    L"BUTTON", L"Check",                        574,  44,  52,  21, kPush,      0, 7,      Look::Regular,    kTextColour},
    {kTokenResultLabel,    L"STATIC", nullptr,                         404,  69, 222,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kServerLabel,         L"STATIC", L"Server:",                      306,  86,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kServerEdit,          L"EDIT",   nullptr,                         404,  86, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 8, Look::Regular, kTextColour},
    {kListenBrainzLastLabel, L"STATIC", nullptr,                       306, 134, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kSendListensCheck,    L"BUTTON", L"Send listens",                 306, 114, 116,  13, kCheck,     0, 9,      Look::Regular,    kTextColour},
    {kListensWaitingLabel, L"STATIC", nullptr,                         428, 114, 198,  14, kRightLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmLabel,         L"STATIC", L"Last.fm",                      306, 160, 320,  13, kLabel,     0, kNoTab, Look::Bold,       kTextColour},
    {kLastFmCheck,         L"BUTTON", L"Publish to Last.fm",           306, 177, 320,  17, kCheck,     0, 10,     Look::Regular,    kTextColour},
    {kLastFmServerLabel,   L"STATIC", L"Server:",                      306, 200,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmServerEdit,    L"EDIT",   nullptr,                         404, 200, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 11, Look::Regular, kTextColour},
    {kLastFmKeyLabel,      L"STATIC", L"API key:",                     306, 229,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmKeyEdit,       L"EDIT",   nullptr,                         404, 225, 222,  21, kLineEdit,  WS_EX_CLIENTEDGE, 12, Look::Regular, kTextColour},
    {kLastFmSecretLabel,   L"STATIC", L"Shared secret:",               306, 254,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmSecretEdit,    L"EDIT",   nullptr,                         404, 250, 222,  21, kSecretEdit, WS_EX_CLIENTEDGE, 13, Look::Regular, kTextColour},
    {kConnectButton,       L"BUTTON", L"Connect...",                   306, 277,  90,  23, kPush,      0, 14,     Look::Regular,    kTextColour},
    {kConnectStatusLabel,  L"STATIC", nullptr,                         306, 305, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kSendScrobblesCheck,  L"BUTTON", L"Send scrobbles",               306, 326, 116,  13, kCheck,     0, 16,     Look::Regular,    kTextColour},
    {kScrobblesWaitingLabel, L"STATIC", nullptr,                       428, 326, 198,  14, kRightLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kLastFmLastLabel,     L"STATIC", nullptr,                         306, 346, 320,  13, kLongLabel, 0, kNoTab, Look::Regular,    kTextColour},
    // Under "Server:" while the address is plain http; beside "Connect..." while the
    // browser could not open the permission page.
    {kListenBrainzPlainLabel, L"STATIC", nullptr,                      306, 100,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kWarningRed},
    {kLastFmPlainLabel,    L"STATIC", nullptr,                         306, 214,  96,  13, kLabel,     0, kNoTab, Look::Regular,    kWarningRed},
    {kConnectAddressEdit,  L"EDIT",   nullptr,                         404, 277, 222,  23, kLineEdit | ES_READONLY, WS_EX_CLIENTEDGE, 15, Look::Regular, kTextColour},
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
// Posted by the counting thread once both counts are in.
const UINT kCounted = WM_APP + 5;
// A waiting count still being asked for.
const long kCounting = -2;

// Each target's last-result line and the label that shows it.
const struct {
    ResultLine line;
    OptionsControlId label;
} kResultLabels[] = {
    {ResultLine::listenBrainz, kListenBrainzLastLabel},
    {ResultLine::lastFm, kLastFmLastLabel},
};

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
// never wait for that. Shared like the token check.
struct CountJob {
    ListensCount listens = nullptr;
    ScrobblesCount scrobbles = nullptr;
    long listensFound = -1, scrobblesFound = -1;
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
    try {
        if (job->listens) job->listensFound = job->listens();
        if (job->scrobbles) job->scrobblesFound = job->scrobbles();
    } catch (...) {
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
    // The Last.fm session "Ok" stores, with the server and API key it was granted for:
    // the one at opening, one Connect gave, or none after Disconnect; written only when
    // it changed here.
    std::wstring session, user, sessionServer, sessionKey;
    bool sessionChanged = false;
    std::wstring askedServer, askedKey;  // what the connect under way was started with

    HWND operator[](OptionsControlId id) const { return GetDlgItem(window, id); }
};

Dialog* gOpen = nullptr;  // only Winamp's thread touches it
TokenCheck gTokenCheck = nullptr;
ListensCount gListensCount = nullptr;
ScrobblesCount gScrobblesCount = nullptr;
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

// Both server boxes by the same rule; Last.fm's only when it is used (empty: Last.fm's
// own). False once one was refused.
bool serversUsable(Dialog& d) {
    const ServerAddress address = readServerAddress(windowText(d[kServerEdit]));
    if (!address.ok) {
        refuseServer(d.window, kServerEdit, L"", address.why);
        return false;
    }
    if (!isChecked(d[kLastFmCheck])) return true;
    const ServerAddress lastFm = readServerAddress(windowText(d[kLastFmServerEdit]));
    if (!lastFm.ok) refuseServer(d.window, kLastFmServerEdit, L"Last.fm ", lastFm.why);
    return lastFm.ok;
}

// The Last.fm group's values as "Ok" reads them, applied inside the one settings edit.
struct LastFmEdits {
    bool on, scrobbles, sessionChanged;
    std::wstring server, key, secret, session, user, sessionServer, sessionKey;

    explicit LastFmEdits(const Dialog& d)
        : on(isChecked(d[kLastFmCheck])),
          scrobbles(isChecked(d[kSendScrobblesCheck])),
          sessionChanged(d.sessionChanged),
          server(windowText(d[kLastFmServerEdit])),
          key(windowText(d[kLastFmKeyEdit])),
          secret(windowText(d[kLastFmSecretEdit])),
          session(d.session),
          user(d.user),
          sessionServer(d.sessionServer),
          sessionKey(d.sessionKey) {}

    void applyTo(Settings& s) const {
        s.LastFm = on ? 1 : 0;
        s.LastFmServer = server;
        s.LastFmKey = key;
        s.LastFmSecret = secret;
        s.LastFmScrobbles = scrobbles ? 1 : 0;
        if (!sessionChanged) return;
        s.LastFmSession = session;
        s.LastFmUser = user;
        s.LastFmSessionServer = sessionServer;
        s.LastFmSessionApiKey = sessionKey;
    }
};

void acceptEdits(Dialog& d) {
    if (!serversUsable(d)) return;
    const std::wstring server = windowText(d[kServerEdit]);
    const std::wstring words = windowText(d[kPrivateEdit]);
    const bool onPause = isChecked(d[kOnPauseCheck]);
    const bool onStop = isChecked(d[kOnStopCheck]);
    const int interval = intervalFrom(windowText(d[kIntervalEdit]), d.intervalShown);
    const bool secure = isChecked(d[kSecureCheck]);
    const bool listenBrainz = isChecked(d[kListenBrainzCheck]);
    const bool listens = isChecked(d[kSendListensCheck]);
    const std::wstring token = windowText(d[kTokenEdit]);
    const LastFmEdits lastFm(d);
    editSettings([&](Settings& s) {
        lastFm.applyTo(s);
        s.ListenBrainz = listenBrainz ? 1 : 0;
        s.ListenBrainzToken = token;
        s.ListenBrainzServer = server;
        s.ListenBrainzListens = listens ? 1 : 0;
        s.PrivateWords = words;
        s.OnPause = onPause ? 1 : 0;
        s.OnStop = onStop ? 1 : 0;
        s.MinInterval = interval;
        s.Secure = secure ? 1 : 0;
    });
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
        d.sessionChanged = true;
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
        d.sessionChanged = true;
    }
    // The page's token is spent either way.
    ShowWindow(d[kConnectAddressEdit], SW_HIDE);
    // After Stop the flow's own reason for ending says nothing the user does not know.
    const bool quiet = result.words.empty() || (connectStopped(*job) && !result.ok);
    SetWindowTextW(d[kConnectStatusLabel], quiet ? L"Not connected" : result.words.c_str());
    d.connecting = nullptr;
    releaseConnect(job);
    showConnectButton(d);
}

void onCommand(Dialog& d, WPARAM wParam, LPARAM lParam) {
    if (gOpen != &d) return;
    const int id = LOWORD(wParam);
    if (reinterpret_cast<HWND>(lParam) != GetDlgItem(d.window, id)) return;
    if (HIWORD(wParam) == EN_CHANGE) onEdited(d, id);
    if (HIWORD(wParam) != BN_CLICKED) return;
    if (id == kOptionsOkButton) acceptEdits(d);
    if (id == kOptionsCancelButton) closeDialog(d);
    if (id == kCheckTokenButton) startTokenCheck(d);
    if (id == kConnectButton) onConnectClicked(d);
}

std::wstring waitingText(const wchar_t* what, long count) {
    // Narrow to_string: the wide one links the C library's printf family.
    return std::wstring(what) + L" waiting: " +
           (count == kCounting ? std::wstring(L"\x2026")
            : count < 0        ? std::wstring(L"not known")
                               : decimalText(count));
}

void showCounts(Dialog& d, long listens, long scrobbles) {
    SetWindowTextW(d[kListensWaitingLabel], waitingText(L"Listens", listens).c_str());
    SetWindowTextW(d[kScrobblesWaitingLabel], waitingText(L"Scrobbles", scrobbles).c_str());
}

void startCounts(Dialog& d) {
    auto* job = new (std::nothrow) CountJob;
    if (!job || (!gListensCount && !gScrobblesCount)) {
        delete job;
        showCounts(d, -1, -1);
        return;
    }
    job->listens = gListensCount;
    job->scrobbles = gScrobblesCount;
    job->window = d.window;
    if (!startWorker(job, countOnWorker)) {
        delete job;
        showCounts(d, -1, -1);
        return;
    }
    d.count = job;
    showCounts(d, gListensCount ? kCounting : -1, gScrobblesCount ? kCounting : -1);
}

void onCounted(Dialog& d, CountJob* job) {
    if (!job || job != d.count) return;
    showCounts(d, job->listensFound, job->scrobblesFound);
    d.count = nullptr;
    release(job);
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

void fillLastFm(Dialog& d, const Settings& s) {
    setChecked(d[kLastFmCheck], s.LastFm == 1);
    SetWindowTextW(d[kLastFmServerEdit], s.LastFmServer.c_str());
    SetWindowTextW(d[kLastFmKeyEdit], s.LastFmKey.c_str());
    SetWindowTextW(d[kLastFmSecretEdit], s.LastFmSecret.c_str());
    setChecked(d[kSendScrobblesCheck], s.LastFmScrobbles == 1);
    d.session = s.LastFmSession;
    d.user = s.LastFmUser;
    d.sessionServer = s.LastFmSessionServer;
    d.sessionKey = s.LastFmSessionApiKey;
    showSession(d);
    showPlain(d, kLastFmServerEdit, kLastFmPlainLabel);
    ShowWindow(d[kConnectAddressEdit], SW_HIDE);
}

void fillFromSettings(Dialog& d, const Settings& s) {
    SendMessageW(d[kPrivateEdit], EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(d[kPrivateEdit], s.PrivateWords.c_str());
    setChecked(d[kOnPauseCheck], s.OnPause == 1);
    setChecked(d[kOnStopCheck], s.OnStop == 1);
    setChecked(d[kSecureCheck], s.Secure == 1);
    setChecked(d[kListenBrainzCheck], s.ListenBrainz == 1);
    SetWindowTextW(d[kTokenEdit], s.ListenBrainzToken.c_str());
    SetWindowTextW(d[kServerEdit], s.ListenBrainzServer.c_str());
    for (const auto& result : kResultLabels)
        SetWindowTextW(d[result.label], lastResultText(result.line).c_str());
    setChecked(d[kSendListensCheck], s.ListenBrainzListens == 1);
    showPlain(d, kServerEdit, kListenBrainzPlainLabel);
    fillLastFm(d, s);
    startCounts(d);
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

void setListensCount(ListensCount count) {
    gListensCount = count;
}

void setScrobblesCount(ScrobblesCount count) {
    gScrobblesCount = count;
}

void setLastFmConnect(LastFmConnect connect) {
    gLastFmConnect = connect;
}

void setLogOpenerForTest(LogOpener opener) {
    gOpener = opener;
}

}  // namespace nimbo
