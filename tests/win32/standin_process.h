// The player stand-in as a child process of a Win32 test: a temporary host folder
// and the command pipe (see tools/player/README.md).
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "win32_test_util.h"

namespace standin {

// Build outputs are known by their Unix paths; Wine's drive Z: is the root.
std::wstring windowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : wchar_t(*p);
    return path;
}

// A temporary host folder: nimbo_player.exe, optionally Plugins\gen_nimbo.dll.
class HostFolder {
  public:
    explicit HostFolder(const char* pluginDll) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        folder_ = std::wstring(temp) + L"nimbo-player-" + std::to_wstring(GetCurrentProcessId()) +
                  L"-" + std::to_wstring(++counter) + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"Plugins").c_str(), nullptr);
        ready_ = CopyFileW(windowsPath(NIMBO_PLAYER_EXE).c_str(), exe().c_str(), FALSE) != 0;
        if (pluginDll)
            ready_ = ready_ && CopyFileW(windowsPath(pluginDll).c_str(), plugin().c_str(), FALSE);
    }
    ~HostFolder() {
        DeleteFileW(exe().c_str());
        DeleteFileW(plugin().c_str());
        DeleteFileW(ini().c_str());
        RemoveDirectoryW((folder_ + L"Plugins").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    bool ready() const { return ready_; }
    std::wstring exe() const { return folder_ + L"nimbo_player.exe"; }
    std::wstring plugin() const { return folder_ + L"Plugins\\gen_nimbo.dll"; }
    std::wstring ini() const { return folder_ + L"winamp.ini"; }

  private:
    std::wstring folder_;
    bool ready_ = false;
};

struct Reply {
    std::vector<std::string> lines;
    bool ok = false;
    std::string error;
};

// The stand-in as a child process with its stdin and stdout on pipes.
class StandIn {
  public:
    ~StandIn() {
        if (process_) {
            // Ended and waited for, so the host folder's files can be deleted.
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 9);
            WaitForSingleObject(process_, 5000);
            CloseHandle(process_);
        }
        if (input_) CloseHandle(input_);
        if (output_) CloseHandle(output_);
    }

    // Starts the program and reads up to its "ready" line; earlier lines (from a
    // plugin's init) are kept in `before`.
    bool start(const std::wstring& exe, const std::wstring& options, std::string& ready,
               std::vector<std::string>* before = nullptr) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!CreatePipe(&childIn, &input_, &inherit, 0)) return false;
        if (!CreatePipe(&output_, &childOut, &inherit, 0)) return false;
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring commandLine = L"\"" + exe + L"\" " + options;
        PROCESS_INFORMATION info = {};
        BOOL created = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &info);
        CloseHandle(childIn);
        CloseHandle(childOut);
        if (!created) return false;
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        processId_ = info.dwProcessId;
        while (readLine(ready, 20000)) {
            if (ready.compare(0, 6, "ready ") == 0) return true;
            if (before) before->push_back(ready);
        }
        return false;
    }

    bool readLine(std::string& line, DWORD timeout) {
        DWORD start = GetTickCount();
        for (;;) {
            size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return true;
            }
            DWORD available = 0;
            if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) return false;
            if (available == 0) {
                if (GetTickCount() - start > timeout) return false;
                Sleep(5);
                continue;
            }
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output_, buffer, std::min<DWORD>(available, sizeof buffer), &got,
                          nullptr))
                return false;
            pending_.append(buffer, got);
        }
    }

    Reply send(const std::string& command, DWORD timeout = 10000) {
        Reply reply;
        std::string bytes = command + "\n";
        DWORD written = 0;
        if (!WriteFile(input_, bytes.data(), DWORD(bytes.size()), &written, nullptr)) {
            reply.error = "stand-in gone";
            return reply;
        }
        std::string line;
        while (readLine(line, timeout)) {
            if (line == "ok") {
                reply.ok = true;
                return reply;
            }
            if (line.compare(0, 6, "error ") == 0) {
                reply.error = line.substr(6);
                return reply;
            }
            reply.lines.push_back(line);
        }
        reply.error = "no reply";
        return reply;
    }

    // The child's "Winamp v1.x" window (not just any: other stand-ins may run).
    HWND window() const {
        HWND found = nullptr;
        while ((found = FindWindowExW(nullptr, found, L"Winamp v1.x", nullptr))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (owner == processId_) return found;
        }
        return nullptr;
    }

    HANDLE process() const { return process_; }

    bool exitCode(DWORD timeout, DWORD& code) {
        return WaitForSingleObject(process_, timeout) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(process_, &code);
    }

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    std::string pending_;
};

// The plugin asks only a "Winamp v1.x" window of its own process. A test whose Winamp is
// the stand-in (another process) puts this relay between them: a window of this process,
// on a thread of its own, that forwards each query and copies the texts the stand-in
// hands out into this process's memory. A test may stall the next query, or have the
// file-info query (3026, whose buffer is this process's) answered without a terminator.
class Relay {
  public:
    static inline std::atomic<int> stallMs{0};
    static inline std::wstring unterminatedInfo;

    explicit Relay(const StandIn& player)
        : target_(player.window()),
          process_(player.process()),
          thread_([this] { return makeWindow(); }) {}
    HWND window() const { return thread_.window(); }

  private:
    LRESULT answer(WPARAM wParam, LPARAM query) {
        if (int stall = stallMs.exchange(0)) Sleep(DWORD(stall));
        if (query == 3026) {
            struct Info {
                const wchar_t* file;
                const wchar_t* field;
                wchar_t* ret;
                size_t retlen;
            }* info = reinterpret_cast<Info*>(wParam);
            if (!unterminatedInfo.empty()) unterminatedInfo.copy(info->ret, info->retlen);
            return 1;
        }
        const LRESULT answer = SendMessageW(target_, WM_USER, wParam, query);
        if (query < 211 || query > 214 || answer == 0 || answer == 1) return answer;
        SIZE_T got = 0;
        memset(text_, 0, sizeof text_);
        ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(answer), text_, sizeof text_, &got);
        return reinterpret_cast<LRESULT>(text_);
    }
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Relay*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_USER && self) return self->answer(wParam, lParam);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HWND makeWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"Winamp v1.x";
        RegisterClassW(&wc);
        HWND window = CreateWindowW(L"Winamp v1.x", L"relay", 0, 0, 0, 10, 10, nullptr, nullptr,
                                    wc.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return window;
    }

    HWND target_ = nullptr;
    HANDLE process_ = nullptr;
    char text_[1040];                // the stand-in's own entry-text buffer is as large
    testutil::WindowThread thread_;  // last: its window goes before the rest
};

}  // namespace standin
