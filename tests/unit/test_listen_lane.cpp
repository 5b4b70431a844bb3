// The listen lane over a queue file in memory: what a server answers to each batch in,
// the file's lines, the batches sent, the waits between turns and the log out.
#include <gtest/gtest.h>

#include <functional>

#include "core/listen_lane.h"
#include "net/lastfm_reply.h"
#include "net/listenbrainz_body.h"

using namespace nimbo;

namespace {

class MemoryFile : public LaneFile {
  public:
    std::vector<QueuedListen> lines;
    std::vector<std::wstring> logged;
    bool otherTurn = false;  // another Winamp's turn holds the claim
    int claims = 0;          // claims held now
    int loads = 0, removals = 0;

    QueueStatus append(const QueuedListen& listen, size_t& dropped) override {
        dropped = 0;
        lines.push_back(listen);
        return QueueStatus::done;
    }
    QueueStatus load(QueueContents& contents) override {
        contents = QueueContents();
        contents.listens = lines;
        ++loads;
        return QueueStatus::done;
    }
    QueueStatus remove(const std::vector<QueuedListen>& gone, std::wstring&) override {
        ++removals;
        for (const QueuedListen& g : gone)
            for (size_t i = 0; i < lines.size(); ++i)
                if (queueLine(lines[i]) == queueLine(g)) {
                    lines.erase(lines.begin() + long(i));
                    break;
                }
        return QueueStatus::done;
    }
    bool claimTurn() override { return !otherTurn && ++claims == 1; }
    void endTurn() override { --claims; }
    void log(const std::wstring& line) override { logged.push_back(line); }
    bool quitting() const override { return false; }
};

QueuedListen listen(const std::wstring& title) {
    static int64_t at = 1700000000;
    QueuedListen q;
    q.listenedAt = at += 100;
    q.artist = L"Band";
    q.title = title;
    return q;
}

// A server: its answer to a batch (`single`: a listen reached just now).
using Server = std::function<BatchOutcome(const std::vector<QueuedListen>&)>;

BatchOutcome outcome(BatchOutcome::Kind kind, size_t leaving = 0, std::wstring server = L"s1") {
    BatchOutcome o;
    o.kind = kind;
    o.leaving = leaving;
    o.why = L"bad listen";
    o.server = std::move(server);
    return o;
}

bool hasBad(const std::vector<QueuedListen>& batch) {
    for (const QueuedListen& q : batch)
        if (q.title.find(L"BAD") != std::wstring::npos) return true;
    return false;
}

// ListenBrainz's 400 to any batch with a bad listen; the rest taken.
BatchOutcome refusesBad(const std::vector<QueuedListen>& batch) {
    return hasBad(batch) ? outcome(BatchOutcome::Kind::refused)
                         : outcome(BatchOutcome::Kind::taken, batch.size());
}

// A Last.fm server giving every request one HTTP status and body.
Server lastFm(int status, std::string body) {
    return [status, body](const std::vector<QueuedListen>& batch) {
        return scrobbleOutcome(status, readLastFmReply(body), batch.size());
    };
}

struct LaneRun {
    MemoryFile file;
    uint64_t now = 1000;
    std::wstring sent;   // each batch's titles, "[A B]"
    std::wstring waits;  // the wait before each turn, in seconds

    // Turns as they fall due, while any falls due within two hours.
    void turns(ListenLane& lane, const Server& server, int most) {
        for (int n = 0; n < most; ++n) {
            uint64_t wait = 0;
            while (wait <= 7200000 && !lane.due(now + wait)) wait += 1000;
            if (wait > 7200000) return;
            now += wait;
            waits += std::to_wstring(wait / 1000) + L" ";
            struct Turn {
                LaneRun* run;
                const Server* server;
            } turn{this, &server};
            lane.sendBacklog(
                now,
                [](void* c, const std::vector<QueuedListen>& batch, bool) {
                    Turn& t = *static_cast<Turn*>(c);
                    std::wstring titles;
                    for (const QueuedListen& q : batch)
                        titles += (titles.empty() ? L"" : L" ") + q.title;
                    t.run->sent += L"[" + titles + L"]";
                    return (*t.server)(batch);
                },
                &turn);
        }
    }
    std::wstring lines() const {
        std::wstring out;
        for (const QueuedListen& q : file.lines) out += (out.empty() ? L"" : L" ") + q.title;
        return out;
    }
    std::wstring log() const {
        std::wstring out;
        for (const std::wstring& line : file.logged) out += line + L"\n";
        return out;
    }
};

const LaneWords kWords{L"LB: ", L"listen", L"listens", L"the queue"};

}  // namespace

// Only the server's own word lets a listen go: a refusal alone drops nothing until the
// same server takes another, and nothing at all when it takes none, across restarts.
TEST(ListenLane, RefusalsDropOnlyOnEvidence) {
    struct Case {
        const char* name;
        std::vector<std::wstring> queued;
        Server server;
        std::wstring sent, lines, waits, log;
    } cases[] = {
        {"a bad listen amid good ones goes once the server takes the next",
         {L"A", L"B BAD", L"C"},
         refusesBad,
         L"[A B BAD C][A][B BAD][C]",
         L"",
         L"0 0 0 0 ",
         L"LB: listen sent: Band - A (listened at 1700000100)\n"
         L"LB: listen sent: Band - C (listened at 1700000300)\n"
         L"LB: listen refused and dropped: Band - B BAD (listened at 1700000200): bad listen\n"},
        {"three refused in a row: the lane backs off, then the rest go, and a take drops them",
         {L"A BAD", L"B BAD", L"C BAD", L"D"},
         refusesBad,
         L"[A BAD B BAD C BAD D][A BAD][B BAD][C BAD][D]",
         L"",
         L"0 0 0 0 15 ",
         L"LB: 3 listens refused one by one and none taken: none is dropped while the server "
         L"takes none, and they are tried again later\n"
         L"LB: listen sent: Band - D (listened at 1700000700)\n"
         L"LB: listen refused and dropped: Band - A BAD (listened at 1700000400): bad listen\n"
         L"LB: listen refused and dropped: Band - B BAD (listened at 1700000500): bad listen\n"
         L"LB: listen refused and dropped: Band - C BAD (listened at 1700000600): bad listen\n"},
        {"a server that refuses every one keeps them all and backs off",
         {L"A BAD", L"B BAD"},
         refusesBad,
         L"[A BAD B BAD][A BAD][B BAD][A BAD B BAD][A BAD][B BAD]",
         L"A BAD B BAD",
         L"0 0 0 0 15 0 0 0 ",
         L"LB: 2 listens refused one by one and none taken: none is dropped while the server "
         L"takes none, and they are tried again later\n"},
    };
    for (const Case& c : cases) {
        LaneRun run;
        for (const std::wstring& title : c.queued) run.file.lines.push_back(listen(title));
        ListenLane lane(run.file, kWords, 100);
        run.turns(lane, c.server, 8);
        EXPECT_EQ(run.sent, c.sent) << c.name;
        EXPECT_EQ(run.lines(), c.lines) << c.name;
        EXPECT_EQ(run.waits, c.waits) << c.name;
        EXPECT_EQ(run.log(), c.log) << c.name;
        EXPECT_EQ(run.file.claims, 0) << c.name;
    }
}

// Restarts forget what was set aside, so each start sends them again; none is dropped.
TEST(ListenLane, NothingDroppedAcrossRestartsWhenEveryOneIsRefused) {
    LaneRun run;
    for (const wchar_t* title : {L"A BAD", L"B BAD", L"C BAD", L"D BAD", L"E BAD"})
        run.file.lines.push_back(listen(title));
    for (int start = 0; start < 3; ++start) {
        ListenLane lane(run.file, kWords, 100);
        run.turns(lane, refusesBad, 12);
    }
    EXPECT_EQ(run.lines(), L"A BAD B BAD C BAD D BAD E BAD");
    EXPECT_EQ(run.log().find(L"dropped:"), std::wstring::npos) << run.log();
    size_t said = 0;
    for (const std::wstring& line : run.file.logged) said += line.find(L"refused one by one") != 0;
    EXPECT_EQ(said, 3u) << run.log();  // one line a start
}

// A refusal weighs only against the server that refused: a fresh listen the same server
// takes is the evidence, another server's take is none (the refused one goes to it).
TEST(ListenLane, EvidenceComesFromTheSameServer) {
    for (const wchar_t* server : {L"s1", L"s2"}) {
        LaneRun run;
        run.file.lines.push_back(listen(L"X BAD"));
        ListenLane lane(run.file, kWords, 100);
        run.turns(lane, refusesBad, 1);
        const QueuedListen fresh = listen(L"Y");
        lane.listened(fresh);
        run.turns(
            lane,
            [server](const std::vector<QueuedListen>& b) {
                return outcome(BatchOutcome::Kind::taken, b.size(), server);
            },
            2);
        const std::wstring x = std::to_wstring(fresh.listenedAt - 100),
                           y = std::to_wstring(fresh.listenedAt);
        if (server == std::wstring(L"s1")) {
            EXPECT_EQ(run.sent, L"[X BAD][Y]");
            EXPECT_EQ(run.log(), L"LB: listen sent: Band - Y (listened at " + y + L")\n" +
                                     L"LB: listen refused and dropped: Band - X BAD (listened at " +
                                     x + L"): bad listen\n");
        } else {
            EXPECT_EQ(run.sent, L"[X BAD][Y][X BAD]");
            EXPECT_EQ(run.log(), L"LB: listen sent: Band - Y (listened at " + y + L")\n" +
                                     L"LB: listen sent: Band - X BAD (listened at " + x + L")\n");
        }
        EXPECT_EQ(run.lines(), L"");
    }
}

// Last.fm: a batch leaves only on a 2xx that accounts for it (the reply table has the
// other servers' bodies); a 503 of another's, and error 6, keep all three and back off.
TEST(ListenLane, ScrobblesLeaveOnlyOnLastFmsOwnAccount) {
    const std::string ok = R"({"scrobbles":{"@attr":{"accepted":2,"ignored":1},"scrobble":[)"
                           R"({"ignoredMessage":{"code":"0"}},{"ignoredMessage":{"code":"1"}},)"
                           R"({"ignoredMessage":{"code":"0"}}]}})";
    const std::string daily = R"({"scrobbles":{"@attr":{"accepted":1,"ignored":2},"scrobble":[)"
                              R"({"ignoredMessage":{"code":"0"}},{"ignoredMessage":{"code":"1"}},)"
                              R"({"ignoredMessage":{"code":"5"}}]}})";
    struct Case {
        int status;
        std::string body;
        std::wstring lines, waits;
    } cases[] = {
        {200, ok, L"", L"0 "},
        {200, daily, L"Three", L"0 3600 15 "},  // then the same body does not account for one
        {503, R"({"code":503,"error":"The service is down"})", L"One Two Three", L"0 15 30 "},
        {200, ok.substr(0, ok.size() - 2), L"One Two Three", L"0 15 30 "},
        {503, ok, L"One Two Three", L"0 15 30 "},
        {200, R"({"scrobbles":{"@attr":{"accepted":1,"ignored":0}}})", L"One Two Three",
         L"0 15 30 "},
        {400, R"({"error":6,"message":"Invalid parameters"})", L"One Two Three", L"0 15 30 "},
    };
    for (const Case& c : cases) {
        LaneRun run;
        for (const wchar_t* title : {L"One", L"Two", L"Three"})
            run.file.lines.push_back(listen(title));
        ListenLane lane(run.file, {L"Last.fm: ", L"scrobble", L"scrobbles", L"the queue"}, 50);
        run.turns(lane, lastFm(c.status, c.body), 3);
        EXPECT_EQ(run.lines(), c.lines) << c.status << " " << c.body;
        EXPECT_EQ(run.waits, c.waits) << c.status << " " << c.body;
        EXPECT_EQ(run.log().find(L"dropped"), std::wstring::npos) << c.body;
    }
}

// Another Winamp's turn on the same file: this one sends nothing until it ends, and an
// append goes on meanwhile.
TEST(ListenLane, AnotherWinampsTurnIsWaitedFor) {
    LaneRun run;
    run.file.lines.push_back(listen(L"A"));
    ListenLane lane(run.file, kWords, 100);
    run.file.otherTurn = true;
    run.turns(lane, refusesBad, 2);
    lane.listened(listen(L"B"));
    EXPECT_EQ(run.lines(), L"A B");
    run.file.otherTurn = false;
    run.turns(lane, refusesBad, 2);
    EXPECT_EQ(run.sent, L"[A B]");
    EXPECT_EQ(run.waits, L"0 2 0 ");
    EXPECT_EQ(run.lines(), L"");
}

// A catch-up goes in imports as large as ListenBrainz takes, each turn one load of the
// file, one request and one removal.
TEST(ListenLane, ACatchUpGoesInTheServicesLargestImports) {
    LaneRun run;
    for (int i = 0; i < 1250; ++i) run.file.lines.push_back(listen(L"L"));
    ListenLane lane(run.file, kWords, kMaxListensPerRequest);
    std::vector<size_t> batches;
    run.turns(
        lane,
        [&batches](const std::vector<QueuedListen>& b) {
            batches.push_back(b.size());
            return outcome(BatchOutcome::Kind::taken, b.size());
        },
        4);
    EXPECT_EQ(batches, (std::vector<size_t>{1000, 250}));
    EXPECT_EQ(run.file.loads + run.file.removals, 4);
    EXPECT_EQ(run.lines(), L"");
}
