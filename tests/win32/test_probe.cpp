// The player probe against the player stand-in, through real window queries, under the
// code page this program was built to expect, through the relay (standin_process.h).
#include <gtest/gtest.h>

#include <atomic>

#include "common/platform.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/winamp_window.h"
#include "probe/probe.h"
#include "probe/composer.h"
#include "tests/ci_skip.h"
#include "tests/win32/standin_process.h"
#include "tests/win32/win32_test_util.h"
#include "tools/player/file_info.h"

using namespace nimbo;
using namespace standin;
using testutil::utf8;

namespace {

// Runs `probe` on a thread of its own; false when it did not return within `ms`.
template <class F>
bool returnsWithin(DWORD ms, F probe) {
    struct Job {
        F probe;
        static DWORD WINAPI run(LPVOID p) {
            static_cast<Job*>(p)->probe();
            return 0;
        }
    };
    auto* job = new Job{probe};
    HANDLE thread = CreateThread(nullptr, 0, Job::run, job, 0, nullptr);
    const bool done = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (done) delete job;  // else left to the stuck thread
    return done;
}

// Winamp's file-info answers as the stand-in gives them (its own code), from a window
// of this process on a thread of its own, so a slow answer outlasts the probe's bound.
player::FileInfo hostInfo;
LRESULT CALLBACK fileInfoHost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && lParam == player::kExtendedFileInfoWide)
        return hostInfo.answer(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}
HWND makeFileInfoHost() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = fileInfoHost;
    wc.lpszClassName = L"nimbo file-info host";
    RegisterClassW(&wc);
    return CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
}

// Puts other data where the frames of the last call were.
__attribute__((noinline)) void reuseStack() {
    volatile wchar_t dirt[4096];
    for (auto& unit : dirt) unit = L'x';
}

class Probe : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        host_ = new HostFolder(nullptr);
        player_ = new StandIn();
        std::string ready;
        started_ = host_->ready() && player_->start(host_->exe(), L"--no-plugin", ready);
        connect();
    }
    static void TearDownTestSuite() {
        delete relay_;
        delete player_;
        delete host_;
    }
    static void connect() {
        relay_ = new Relay(*player_);
        setWinampWindow(relay_->window());
    }
    void SetUp() override {
        ASSERT_EQ(GetACP(), unsigned(NIMBO_EXPECT_CP)) << "wrong locale for this test";
        ASSERT_TRUE(started_);
        Relay::unterminatedInfo.clear();
        run("clear");
        run("widequeries on");
        editSettings([](Settings& s) { s.StatusMask.clear(); });
    }
    static void run(const std::string& command) {
        Reply reply = player_->send(command);
        ASSERT_TRUE(reply.ok) << command << ": " << reply.error;
    }
    static void mask(const std::wstring& text) {
        editSettings([&](Settings& s) { s.StatusMask = text; });
    }

    static HostFolder* host_;
    static StandIn* player_;
    static Relay* relay_;
    static bool started_;
};

HostFolder* Probe::host_ = nullptr;
StandIn* Probe::player_ = nullptr;
Relay* Probe::relay_ = nullptr;
bool Probe::started_ = false;

}  // namespace

// Every entry-text case, with a host that answers the wide queries and with one that
// answers them 1 (then the 8-bit queries give the same texts).
TEST_F(Probe, EntryTextsWithAndWithoutTheWideQueries) {
    for (const char* wide : {"on", "off"}) {
        SCOPED_TRACE(wide);
        run("clear");
        run(std::string("widequeries ") + wide);
        run("add C:\\Music\\Some Folder\\Artist - Song.mp3|AC/DC: Back in Black|200|192|44|2");
        run("play 0");
        EXPECT_EQ(currentFilePath(), L"C:\\Music\\Some Folder\\Artist - Song.mp3");
        EXPECT_EQ(currentTitle(), L" Back in Black");
        run("add http://radio.example/stream|Radio/One|-1|128|44|2");
        run("play 1");
        EXPECT_EQ(withoutFolder(currentFilePath()), L"stream");
        EXPECT_EQ(currentTitle(), L"One");
        // Texts of 260 units or more are cut to 260, never overrun.
        run("addraw " + std::string(300, 'n') + "|" + std::string(259, 't') + "|1|1|1|1");
        run("play 2");
        EXPECT_EQ(currentFilePath(), std::wstring(260, L'n'));
        EXPECT_EQ(currentTitle(), std::wstring(259, L't'));
        run("addraw x.mp3||1");  // an empty title
        run("play 3");
        EXPECT_EQ(currentTitle(), L"");
        // A position outside the playlist: the host hands out a null address.
        run("pos 9");
        EXPECT_EQ(currentFilePath(), L"");
        EXPECT_EQ(currentTitle(), L"");
    }
}

TEST_F(Probe, NonLatinTextsArriveWholeThroughTheWideQueries) {
    const std::wstring path = L"C:\\\u041C\u0443\u0437\u044B\u043A\u0430\\\u611B \uD55C.mp3";
    const std::wstring title = L"\u041A\u0438\u043D\u043E - \u30B0\u30EB\u30FC\u30D7";
    run("add " + utf8(path) + "|" + utf8(title) + "|1|1|1|1");
    run("play 0");
    EXPECT_EQ(currentFilePath(), path);
    EXPECT_EQ(currentTitle(), title);
    // 300 Cyrillic letters: 260 units arrive, whatever the code page.
    run("add " + utf8(std::wstring(300, L'\u0436')) + "|x|1");
    run("play 1");
    EXPECT_EQ(currentFilePath(), std::wstring(260, L'\u0436'));
    // An emoji across the bound: its first half would go alone, so it goes too.
    run("add " + utf8(std::wstring(259, L'a') + L"\U0001F3B5") + "|x|1");
    run("play 2");
    EXPECT_EQ(currentFilePath(), std::wstring(259, L'a'));

    // An older host: the same entry through the code page.
    run("widequeries off");
    run("play 0");
    if (GetACP() == 1251) {
        EXPECT_EQ(currentFilePath(), L"C:\\\u041C\u0443\u0437\u044B\u043A\u0430\\? ?.mp3");
        EXPECT_EQ(currentTitle(), L"\u041A\u0438\u043D\u043E - ????");
    } else {
        EXPECT_EQ(currentFilePath(), L"C:\\??????\\? ?.mp3");
        EXPECT_EQ(currentTitle(), L"???? - ????");
    }
    mask(L"$paused=\u043F\u0430\u0443\u0437\u0430;");
    run("state 3");
    EXPECT_EQ(playStateText(), GetACP() == 1251 ? "\xEF\xE0\xF3\xE7\xE0" : "?????");
}

// What the probe makes of the host's answers (the words' own rules are test_words.cpp's):
// a value the host does not know gives the unknown word, a state it does not name "-".
TEST_F(Probe, HostAnswersBecomeTexts) {
    run("add a.mp3|A|1|320|48|2");
    run("play 0");
    const struct {
        const char* command;
        std::string (*text)();
        const char* expected;
    } cases[] = {
        {"set length 75", lengthText, "01:15"},
        {"set length -1", lengthText, "Unknown"},
        {"set bitrate 320", bitrateText, "320"},
        {"set bitrate -1", bitrateText, "Unknown"},
        {"set samplerate 48", sampleRateText, "48"},
        {"set samplerate -5", sampleRateText, "Unknown"},
        {"set channels 2", channelsText, "2"},
        {"set channels -2", channelsText, "Unknown"},
        {"state 0", playStateText, "stopped"},
        {"state 1", playStateText, "playing"},
        {"state 3", playStateText, "paused"},
        {"state 2", playStateText, "-"},
        {"state 7", playStateText, "-"},
        {"state -1", playStateText, "-"},
    };
    for (const auto& c : cases) {
        run(c.command);
        EXPECT_EQ(c.text(), c.expected) << c.command;
    }
    // The words come from the settings' mask.
    mask(L"$unknown=n/a; $stopped=off;");
    run("set length -1");
    EXPECT_EQ(lengthText(), "n/a");
    run("state 0");
    EXPECT_EQ(playStateText(), "off");
}

TEST_F(Probe, ComposesFromTheTagsOfAFileInAnotherFolder) {
    const std::string file = std::string(NIMBO_TESTDATA_DIR) + "/id3/mutagen-silence-44-s.mp3";
    NIMBO_NEEDS(GetFileAttributesA(("Z:" + file).c_str()) != INVALID_FILE_ATTRIBUTES,
                "the shared test data");
    std::string windowsFile = "Z:" + file;
    for (char& c : windowsFile)
        if (c == '/') c = '\\';
    run("add " + windowsFile + "|Wrong - Title|75|128|44|2");
    run("play 0");
    mask(L"%artist% - %title% [%length%] %curstate%");
    EXPECT_EQ(composeCurrentStatus(currentFilePath()), L"jzig - Silence [01:15] playing");

    // The same file under a name no code page holds whole: only the wide path opens it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring copy = std::wstring(temp) + L"\u611B\u0416\u03A9.mp3";
    ASSERT_TRUE(CopyFileW(std::wstring(windowsFile.begin(), windowsFile.end()).c_str(),
                          copy.c_str(), FALSE));
    run("clear");
    run("add " + utf8(copy) + "|Wrong - Title|75|128|44|2");
    run("play 0");
    EXPECT_EQ(composeCurrentStatus(currentFilePath()), L"jzig - Silence [01:15] playing");
    run("widequeries off");
    EXPECT_EQ(composeCurrentStatus(currentFilePath()), L"Wrong - Title [01:15] playing");
    DeleteFileW(copy.c_str());
}

// Query counts of the stand-in: what a change test costs.
TEST_F(Probe, ChangeTestEntriesAndTheirCost) {
    auto queries = [] {
        Reply reply = player_->send("queries");
        return reply.lines.empty() ? -1L : std::stol(reply.lines[0].substr(8));
    };
    for (const char* wide : {"on", "off"}) {
        SCOPED_TRACE(wide);
        run("clear");
        run(std::string("widequeries ") + wide);
        run("add C:\\m\\a.flac|[Buffering]|1");
        run("add http://radio.example:8000/stream|[Buffering: 40%] Radio X|1");
        run("tags 0 artist=Band|title=Song");
        run("play 0");
        long before = queries();
        PlayingEntry file = currentEntry(L"", L"");
        // A file: position and path only (and the 8-bit path after a refused wide query).
        EXPECT_EQ(queries() - before, std::string(wide) == "on" ? 2 : 3);
        EXPECT_EQ(file.path, L"C:\\m\\a.flac");
        EXPECT_EQ(file.streamTitle, L"");
        EXPECT_FALSE(file.waiting);

        run("play 1");
        PlayingEntry stream = currentEntry(L"", L"");
        EXPECT_TRUE(stream.waiting);
        run("retitle 1 AC/DC - Back in Black");
        before = queries();
        stream = currentEntry(stream.path, L"");
        // One more position and title query; the title uncut.
        EXPECT_EQ(queries() - before, std::string(wide) == "on" ? 4 : 6);
        EXPECT_EQ(stream.path, L"http://radio.example:8000/stream");
        EXPECT_EQ(stream.streamTitle, L"AC/DC - Back in Black");
        run("retitle 1 [Buffering: 10%]");
        EXPECT_EQ(currentEntry(stream.path, stream.streamTitle).streamTitle,
                  L"AC/DC - Back in Black");
    }
    // A stream's title is a song name, not a path to cut.
    mask(L"%artist%|%title%");
    const std::wstring radio = L"http://radio.example:8000/stream";
    EXPECT_EQ(composeCurrentStatus(radio, L"AC/DC - Highway to Hell"), L"AC/DC|Highway to Hell");
    EXPECT_EQ(composeCurrentStatus(radio, L"Live: Band - Song: Two"), L"Live: Band|Song: Two");
}

// A player that writes its answer without a terminator: the text ends where the
// answer ends, never in whatever the stack held after it.
TEST_F(Probe, FileInfoWrittenWithoutATerminatorEndsWhereItEnds) {
    Relay::unterminatedInfo = L"Band";
    volatile wchar_t dirt[2048];
    for (auto& unit : dirt) unit = L'x';  // the stack the buffer will take
    EXPECT_EQ(winampFileInfo(L"C:\\m\\a.flac", L"artist"), L"Band");
}

// A query that runs out gives the fallback and says so; the next one asks afresh.
// Another process's "Winamp v1.x" window that hangs, created last (on top), is never
// asked: the probe keeps to the window of its own process.
TEST_F(Probe, AHungWinampIsNeverWaitedForAndAForeignOneNeverAsked) {
    run("add a.mp3|A|1|1|1|1");
    run("play 0");
    queryRanOut();
    Relay::stallMs = 2500;
    EXPECT_EQ(playStateText(), "-");
    EXPECT_TRUE(queryRanOut());
    Sleep(1600);  // the relay ends its stall
    EXPECT_EQ(playStateText(), "playing");
    EXPECT_FALSE(queryRanOut());

    StandIn hung;
    std::string ready;
    ASSERT_TRUE(hung.start(host_->exe(), L"--no-plugin", ready));
    hung.send("hang 30000", 200);
    std::wstring path;
    std::string state;
    EXPECT_TRUE(returnsWithin(5000, [&] {
        path = currentFilePath();
        state = playStateText();
    })) << "the probe waited for a hung window of another process";
    EXPECT_EQ(path, L"a.mp3");
    EXPECT_EQ(state, "playing");
}

// Without a window of this process every operation gives its fallback, even while
// another process shows a "Winamp v1.x" window that plays; a fresh relay follows for
// whatever test runs next.
TEST_F(Probe, WithoutAWindowEveryTextFallsBack) {
    run("add a.mp3|A|1|1|1|1");
    run("play 0");
    delete relay_;
    relay_ = nullptr;
    ASSERT_NE(player_->window(), nullptr);
    EXPECT_EQ(currentFilePath(), L"");
    EXPECT_EQ(currentTitle(), L"");
    EXPECT_EQ(lengthText(), "--:--");
    EXPECT_EQ(bitrateText(), "-");
    EXPECT_EQ(sampleRateText(), "-");
    EXPECT_EQ(channelsText(), "-");
    EXPECT_EQ(playStateText(), "-");
    EXPECT_EQ(currentEntry(L"x", L"y").path, L"");
    EXPECT_EQ(winampFileInfo(L"x.flac", L"title"), L"");
    connect();
}

// A Winamp that answers the file-info query only after the probe gave up writes into
// memory that is still the query's, never frames reused meanwhile. After a few such
// time-outs the query is no longer asked (nimbo.log says so once), until the next init
// gives the window afresh.
TEST_F(Probe, ALateFileInfoAnswerFindsItsBlockAsItLeftIt) {
    loadSettings();  // nimbo.log goes beside the ini found
    const std::wstring log = activityLogPath();
    DeleteFileW(log.c_str());
    testutil::WindowThread host(makeFileInfoHost);
    hostInfo.mode = player::FileInfoMode::slow;
    hostInfo.slowMs = 2000;
    hostInfo.tables[L"C:\\m\\a.flac"][L"artist"] = L"Band";
    setWinampWindow(host.window());
    queryRanOut();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(winampFileInfo(L"C:\\m\\a.flac", L"artist"), L"");
        EXPECT_TRUE(queryRanOut());
        reuseStack();
        Sleep(1500);  // the host answers meanwhile
    }
    EXPECT_EQ(hostInfo.reused, std::vector<std::wstring>());
    const DWORD start = GetTickCount();
    EXPECT_EQ(winampFileInfo(L"C:\\m\\a.flac", L"artist"), L"");
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_FALSE(queryRanOut()) << "a query not sent is no time-out";
    EXPECT_EQ(hostInfo.asked.size(), 3u);
    std::string logged;
    EXPECT_TRUE(testutil::readFile(log, logged));
    EXPECT_NE(logged.find("query 3026"), std::string::npos);
    EXPECT_EQ(logged.find("query 3026"), logged.rfind("query 3026"));
    DeleteFileW(log.c_str());

    hostInfo.mode = player::FileInfoMode::tags;
    setWinampWindow(host.window());
    EXPECT_EQ(winampFileInfo(L"C:\\m\\a.flac", L"artist"), L"Band");
    setWinampWindow(relay_->window());
}

#if NIMBO_EXPECT_CP == 932
// A host without the wide queries under a double-byte code page: an 8-bit text that
// reaches the 260-byte bound ends on a whole character, never on half of one.
TEST_F(Probe, AnEightBitTextAtTheBoundEndsOnAWholeCharacter) {
    run("widequeries off");
    // Byte 260 leads a character whose second byte lies past the bound; then it ends
    // U+30E1, though it could lead one.
    run("addraw " + std::string(259, 'a') + "\\x83\\x41|x|1");
    run("addraw " + std::string(258, 'a') + "\\x83\\x81\\x83\\x81|x|1");
    run("play 0");
    EXPECT_EQ(currentFilePath(), std::wstring(259, L'a'));
    run("play 1");
    EXPECT_EQ(currentFilePath(), std::wstring(258, L'a') + L"\u30E1");
}
#endif
