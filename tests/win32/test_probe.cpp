// The player probe against the player stand-in, through real window queries and
// ReadProcessMemory, under the code page this program was built to expect.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "core/settings.h"
#include "probe/probe.h"
#include "tests/win32/standin_process.h"

using namespace nimbo;
using namespace standin;

namespace {

class Probe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host_ = new HostFolder(nullptr);
        player_ = new StandIn();
        std::string ready;
        started_ = host_->ready() && player_->start(host_->exe(), L"--no-plugin", ready);
    }
    static void TearDownTestSuite() {
        delete player_;
        delete host_;
    }
    void SetUp() override {
        ASSERT_EQ(GetACP(), unsigned(NIMBO_EXPECT_CP)) << "wrong locale for this test";
        ASSERT_TRUE(started_);
        run("clear");
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
    static bool started_;
};

HostFolder* Probe::host_ = nullptr;
StandIn* Probe::player_ = nullptr;
bool Probe::started_ = false;

}  // namespace

TEST_F(Probe, NamesAreCutAfterTheirLastSeparator) {
    run("add C:\\Music\\Some Folder\\Artist - Song.mp3|AC/DC: Back in Black|200|192|44|2");
    run("play 0");
    EXPECT_EQ(currentFileName(), "Artist - Song.mp3");
    EXPECT_EQ(currentFilePath(), "C:\\Music\\Some Folder\\Artist - Song.mp3");
    EXPECT_EQ(currentTitle(), " Back in Black");
    run("add http://radio.example/stream|Radio/One|-1|128|44|2");
    run("play 1");
    EXPECT_EQ(currentFileName(), "stream");
    EXPECT_EQ(currentTitle(), "One");
}

TEST_F(Probe, ANameOf260BytesOrMoreIsCut) {
    std::string name(300, 'n');
    run("addraw " + name + "|" + std::string(259, 't') + "|1|1|1|1");
    run("play 0");
    EXPECT_EQ(currentFileName(), std::string(260, 'n'));
    EXPECT_EQ(currentTitle(), std::string(259, 't'));
}

TEST_F(Probe, APositionOutsideThePlaylistGivesEmptyNames) {
    run("add a.mp3|A|1|1|1|1");
    run("pos 5");
    EXPECT_EQ(currentFileName(), "");
    EXPECT_EQ(currentTitle(), "");
}

TEST_F(Probe, LengthsAreMinutesAndSeconds) {
    run("add a.mp3|A|1|1|1|1");
    run("play 0");
    const struct {
        const char* value;
        const char* text;
    } cases[] = {{"0", "00:00"}, {"59", "00:59"}, {"3600", "60:00"}, {"6000", "100:00"}, {"-1", "Unknown"}};
    for (const auto& c : cases) {
        run(std::string("set length ") + c.value);
        EXPECT_EQ(lengthText(), c.text) << c.value;
    }
    mask(L"$unknown=n/a;");
    EXPECT_EQ(lengthText(), "n/a");
}

TEST_F(Probe, NumbersAndTheirUnknownWord) {
    run("add a.mp3|A|1|320|48|2");
    run("play 0");
    EXPECT_EQ(bitrateText(), "320");
    EXPECT_EQ(sampleRateText(), "48");
    EXPECT_EQ(channelsText(), "2");
    run("set bitrate -1");
    run("set samplerate -5");
    run("set channels -2");
    EXPECT_EQ(bitrateText(), "Unknown");
    // "$unknown" is found at the start of "$unknown_artist" when that comes first.
    mask(L"$unknown_artist=Nobody; $unknown=n/a;");
    EXPECT_EQ(sampleRateText(), "Nobody");
    mask(L"$unknown=None;");
    EXPECT_EQ(channelsText(), "Unknown");
}

TEST_F(Probe, PlayStatesAndTheirWords) {
    run("add a.mp3|A|1|1|1|1");
    const struct {
        const char* state;
        const char* word;
    } cases[] = {{"0", "stopped"}, {"1", "playing"}, {"3", "paused"}, {"2", "-"}, {"7", "-"}, {"-1", "-"}};
    for (const auto& c : cases) {
        run(std::string("state ") + c.state);
        EXPECT_EQ(playStateText(), c.word) << c.state;
    }
    mask(L"$playing=on<br>air; $paused=None; $stopped = off ;");
    run("state 1");
    EXPECT_EQ(playStateText(), "on\rair");
    run("state 3");
    EXPECT_EQ(playStateText(), "paused");
    run("state 0");
    EXPECT_EQ(playStateText(), "off");
}

TEST_F(Probe, CyrillicTextsArriveInTheCodePage) {
    // The stand-in stores the title through the system code page, as the real host does.
    run("add C:\\\u041C\u0443\u0437\u044B\u043A\u0430\\\u041F\u0435\u0441\u043D\u044F.mp3|"
        "\u041A\u0438\u043D\u043E - \u0413\u0440\u0443\u043F\u043F\u0430|1|1|1|1");
    run("play 0");
    if (GetACP() == 1251) {
        EXPECT_EQ(currentFileName(), "\xCF\xE5\xF1\xED\xFF.mp3");
        EXPECT_EQ(currentTitle(), "\xCA\xE8\xED\xEE - \xC3\xF0\xF3\xEF\xEF\xE0");
    } else {
        EXPECT_EQ(currentFileName(), "?????.mp3");
        EXPECT_EQ(currentTitle(), "???? - ??????");
    }
    mask(L"$paused=\u043F\u0430\u0443\u0437\u0430;");
    run("state 3");
    EXPECT_EQ(playStateText(), GetACP() == 1251 ? "\xEF\xE0\xF3\xE7\xE0" : "?????");
}

TEST_F(Probe, ComposesFromTheTagsOfAFileInAnotherFolder) {
    const std::string file = std::string(NIMBO_TESTDATA_DIR) + "/id3/mutagen-silence-44-s.mp3";
    if (GetFileAttributesA(("Z:" + file).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "shared test data not found";
    std::string windowsFile = "Z:" + file;
    for (char& c : windowsFile)
        if (c == '/') c = '\\';
    run("add " + windowsFile + "|Wrong - Title|75|128|44|2");
    run("play 0");
    mask(L"%artist% - %title% [%length%] %curstate%");
    EXPECT_EQ(composeCurrentStatus(currentFileName(), currentFilePath()), L"jzig - Silence [01:15] playing");
}

// Runs last: with the stand-in gone every operation gives its fallback.
TEST_F(Probe, ZZWithoutAWindowEveryTextFallsBack) {
    run("exit");
    DWORD code = 0;
    ASSERT_TRUE(player_->exitCode(10000, code));
    ASSERT_EQ(FindWindowA("Winamp v1.x", nullptr), nullptr);
    EXPECT_EQ(currentFileName(), "");
    EXPECT_EQ(currentFilePath(), "");
    EXPECT_EQ(currentTitle(), "");
    EXPECT_EQ(lengthText(), "--:--");
    EXPECT_EQ(bitrateText(), "-");
    EXPECT_EQ(sampleRateText(), "-");
    EXPECT_EQ(channelsText(), "-");
    EXPECT_EQ(playStateText(), "-");
}
