// When a play counts as a listen: scripted plays of one tick a second.
#include <gtest/gtest.h>

#include <string>

#include "core/listen_rule.h"

using namespace nimbo;

namespace {

// Runs `script` a tick a second from t = 1 and lists the listens as "at:begun" (seconds).
// Tokens: pN play N ticks, zN pause N ticks, sN stopped N ticks, fN/bN one tick of play
// with a seek N s forward/back, kN play N ticks skimming 2 s a tick, lN one tick of play
// N s late, v one tick of play without a position, g one tick a minute late that played
// 1 s, n the next entry from its start, m the stream's next song, r the entry starts
// over, u the position unknown from now on.
std::string run(const char* script, int lengthSeconds) {
    ListenRule rule;
    std::wstring path = L"C:\\a.mp3", title;
    PlayerSample s;
    s.lengthSeconds = lengthSeconds;
    bool knownPosition = true;
    int64_t position = 0;
    std::string listens;
    auto tick = [&](PlayState state, int64_t moved, uint64_t wallMs = 1000) {
        s.nowMs += wallMs;
        s.unixSeconds = int64_t(s.nowMs / 1000);
        s.state = state;
        position += moved;
        s.positionMs = knownPosition ? position : -1;
        if (rule.feed(path, title, s))
            listens +=
                std::to_string(s.unixSeconds) + ":" + std::to_string(rule.listenedAt()) + " ";
    };
    for (const char* c = script; *c;) {
        const char token = *c++;
        int n = 0;
        while (*c >= '0' && *c <= '9') n = n * 10 + (*c++ - '0');
        for (int i = 0; i < n; ++i) {
            if (token == 'p') tick(PlayState::playing, 1000);
            if (token == 'z') tick(PlayState::paused, 0);
            if (token == 's') tick(PlayState::stopped, -position);
            if (token == 'k') tick(PlayState::playing, 2000);
        }
        if (token == 'l') tick(PlayState::playing, n * 1000, uint64_t(n) * 1000);
        if (token == 'v') {
            knownPosition = false;
            tick(PlayState::playing, 1000);
            knownPosition = true;
        }
        if (token == 'f' || token == 'b')
            tick(PlayState::playing, 1000 + (token == 'f' ? n : -n) * 1000);
        if (token == 'g') tick(PlayState::playing, 1000, 60000);
        if (token == 'n') path += L"x";
        if (token == 'm') title += L"x";
        if (token == 'n' || token == 'r') position = 0;
        knownPosition &= token != 'u';
    }
    return listens;
}

}  // namespace

TEST(ListenRule, ScriptedPlays) {
    const struct {
        const char* name;
        int length;
        const char* script;
        const char* listens;
    } cases[] = {
        {"half of a 40 s track", 40, "p20", ""},
        {"half of a 40 s track, counted from the first tick", 40, "p21", "21:1 "},
        {"one listen a play however long it plays", 40, "p200", "21:1 "},
        {"a pause does not count", 40, "p10z30p10", ""},
        {"play resumed after a pause", 40, "p10z30p11", "51:1 "},
        {"a seek forward adds no more than the tick", 40, "p5f10p12", ""},
        {"a seek back adds nothing", 40, "p10b8p10", ""},
        {"a seek back, then enough play", 40, "p10b8p11", "22:1 "},
        {"a late tick counts what Winamp played", 40, "p5gp15", "80:1 "},
        {"29 s never counts", 29, "p60", ""},
        {"30 s counts at 15 s", 30, "p16", "16:1 "},
        {"4 minutes at most", 600, "p241", "241:1 "},
        {"a stream song counts after 4 minutes", -1, "p240", ""},
        {"a stream song at 4 minutes", 0, "p241", "241:1 "},
        {"the stream's next song is a new play", -1, "p100mp241", "341:101 "},
        {"the same track after a stop is a new listen", 40, "p21s2p21", "21:1 44:24 "},
        {"a new track before the threshold starts afresh", 40, "p15np15", ""},
        {"the new track counts on its own", 40, "p15np21", "36:16 "},
        {"an entry played over again after its listen", 40, "p40rp21", "21:1 61:41 "},
        {"back to the start before the listen is a seek", 40, "p10rp12", "22:1 "},
        {"no position: the clock while playing", 40, "up10z30p12", "52:1 "},
        {"no position: a late tick counts 10 s at most", 40, "up5gp6", "71:1 "},
        {"repeat of one entry, the first tick 8 s late", 200, "p199rl8p150", "101:1 307:207 "},
        {"repeat of one entry without a position", 200, "up199rp150", "101:1 301:201 "},
        {"repeat of one entry, its first tick without a position", 200, "p199rvp150",
         "101:1 301:201 "},
        {"back 8 s after the listen is a seek", 40, "p30b8p30", "21:1 "},
        {"back 12 s after the listen is a seek", 40, "p30b12p21", "21:1 "},
        {"a 15 s rewind after 2:05 of a 240 s track is a seek", 240, "p125b15p130", "121:1 "},
        {"repeat of one entry, the first tick 20 s late", 200, "p199rl20p150", "101:1 319:219 "},
        {"skimming counts no faster than the clock", 600, "k300", "240:1 "},
        {"a long pause lends skimming no time", 600, "p10z300k200", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.script, c.length), c.listens) << c.name;
}
