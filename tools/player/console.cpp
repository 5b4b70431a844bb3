#include "tools/player/console.h"

#include "tools/player/app.h"

namespace player {

namespace {

struct Reader {
    HWND target;
    UINT message;
};

CRITICAL_SECTION& outputLock() {
    static CRITICAL_SECTION lock;
    static bool ready = (InitializeCriticalSection(&lock), true);
    (void)ready;
    return lock;
}

void submit(const Reader& reader, const std::string& line) {
    Command command;
    command.line = line;
    command.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!command.done ||
        !PostMessageW(reader.target, reader.message, 0, reinterpret_cast<LPARAM>(&command))) {
        writeLine("error cannot reach the player thread");
        if (command.done) CloseHandle(command.done);
        return;
    }
    WaitForSingleObject(command.done, INFINITE);
    CloseHandle(command.done);
    for (const std::string& out : command.output) writeLine(out);
    writeLine(command.error.empty() ? "ok" : "error " + command.error);
    if (command.exitAfter) ExitProcess(0);
}

DWORD WINAPI readLines(void* parameter) {
    const Reader reader = *static_cast<Reader*>(parameter);
    delete static_cast<Reader*>(parameter);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) submit(reader, line);
        }
    }
    if (!pending.empty()) submit(reader, pending);
    submit(reader, "exit");
    return 0;
}

}  // namespace

void writeLine(const std::string& line) {
    std::string bytes = line + "\n";
    EnterCriticalSection(&outputLock());
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    // WriteFile is unbuffered: the line is in the pipe when it returns.
    WriteFile(output, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    LeaveCriticalSection(&outputLock());
}

bool startCommandReader(HWND target, UINT message) {
    Reader* reader = new Reader{target, message};
    HANDLE thread = CreateThread(nullptr, 0, readLines, reader, 0, nullptr);
    if (!thread) {
        delete reader;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace player
