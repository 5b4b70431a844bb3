// The connect flow's thread and the job it shares with the options window.
#include "ui/lastfm_connect.h"

#include <objbase.h>
#include <shellapi.h>

#include <new>

#include "common/critical_section.h"

namespace nimbo {

struct ConnectJob {
    LastFmConnect connect = nullptr;
    std::wstring server, key, secret;
    HWND window = nullptr;
    UINT saidMessage = 0, doneMessage = 0;
    HMODULE module = nullptr;  // keeps the code the thread runs loaded
    LONG references = 2;
    std::atomic<bool> stop{false};
    std::atomic<bool> windowGone{false};
    CriticalSection lock;  // guards `said`: the thread writes it, the window reads it
    std::wstring said, page;
    ConnectResult result;
};

namespace {

// The threads started and not yet seen ended (a few at most: one a window at a time);
// only Winamp's thread touches them.
const int kMaxThreads = 8;
HANDLE gThreads[kMaxThreads];
int gThreadCount = 0;

void release(ConnectJob* job) {
    if (InterlockedDecrement(&job->references) == 0) delete job;
}

BrowserOpener gOpener = nullptr;

void post(ConnectJob& job, UINT message) {
    if (!job.windowGone) PostMessageW(job.window, message, 0, reinterpret_cast<LPARAM>(&job));
}

// The shell may hand the address to a COM object: the thread is set up for that (a
// single-threaded apartment) by its caller.
bool openInBrowser(const std::wstring& address) {
    if (gOpener) return gOpener(address);
    const HINSTANCE done =
        ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(done) > 32;
}

// The flow's texts for the window; after a stop it says nothing and opens nothing.
void say(ConnectJob& job, std::wstring ConnectJob::*slot, const std::wstring& text) {
    if (job.stop) return;
    {
        Locked held(job.lock);
        job.*slot = text;
    }
    post(job, job.saidMessage);
}

void showPage(ConnectJob& job, const std::wstring& address) {
    // Without a browser the user still can allow it: the window offers the address.
    if (!job.stop && !openInBrowser(address)) say(job, &ConnectJob::page, address);
}

DWORD WINAPI connectOnWorker(void* context) {
    auto* job = static_cast<ConnectJob*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
        job->result = job->connect(
            job->server, job->key, job->secret,
            [job](const std::wstring& text) { say(*job, &ConnectJob::said, text); },
            [job](const std::wstring& address) { showPage(*job, address); }, job->stop);
    } catch (...) {
        job->result = ConnectResult();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    post(*job, job->doneMessage);
    const HMODULE module = job->module;
    release(job);
    // The window, and Winamp with it, may have let the library go meanwhile.
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Closes the handles of threads that have ended, so the list stays short.
void forgetEnded() {
    int kept = 0;
    for (int i = 0; i < gThreadCount; ++i) {
        if (WaitForSingleObject(gThreads[i], 0) == WAIT_OBJECT_0) {
            CloseHandle(gThreads[i]);
        } else {
            gThreads[kept++] = gThreads[i];
        }
    }
    gThreadCount = kept;
}

}  // namespace

ConnectJob* startConnect(LastFmConnect connect, const std::wstring& server, const std::wstring& key,
                         const std::wstring& secret, HWND window, UINT saidMessage,
                         UINT doneMessage) {
    if (!connect) return nullptr;
    forgetEnded();
    // Past that many flows that ignore their stop, no more are started.
    if (gThreadCount == kMaxThreads) return nullptr;
    auto* job = new (std::nothrow) ConnectJob;
    if (!job) return nullptr;
    job->connect = connect;
    job->server = server;
    job->key = key;
    job->secret = secret;
    job->window = window;
    job->saidMessage = saidMessage;
    job->doneMessage = doneMessage;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&connectOnWorker), &job->module);
    HANDLE worker = CreateThread(nullptr, 0, connectOnWorker, job, 0, nullptr);
    if (!worker) {
        if (job->module) FreeLibrary(job->module);
        delete job;
        return nullptr;
    }
    gThreads[gThreadCount++] = worker;
    return job;
}

std::wstring lastSaid(ConnectJob& job) {
    Locked held(job.lock);
    return job.said;
}

std::wstring pageToCopy(ConnectJob& job) {
    Locked held(job.lock);
    return job.page;
}

const ConnectResult& connectResult(const ConnectJob& job) {
    return job.result;
}

void stopConnect(ConnectJob& job) {
    job.stop = true;
}

bool connectStopped(const ConnectJob& job) {
    return job.stop;
}

void releaseConnect(ConnectJob* job) {
    if (!job) return;
    job->windowGone = true;
    release(job);
}

void waitForConnectThreads(DWORD ms) {
    const DWORD start = GetTickCount();
    for (int i = 0; i < gThreadCount; ++i) {
        const DWORD spent = GetTickCount() - start;
        WaitForSingleObject(gThreads[i], spent < ms ? ms - spent : 0);
    }
    forgetEnded();
}

void setBrowserOpenerForTest(BrowserOpener opener) {
    gOpener = opener;
}

}  // namespace nimbo
