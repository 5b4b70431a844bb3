#include "plugin/target_listenbrainz.h"

#include <vector>

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/accounts.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"
#include "core/listen_lane.h"
#include "plugin/messages.h"

namespace nimbo {

namespace {

// The log's words for a lane; each account's file is its own (queueFileName).
const LaneWords kListenWords = {L"ListenBrainz: ", L"listen", L"listens", L"the listen queue"};

// What the failure words call the peer.
const wchar_t kServer[] = L"the server";

// Why an exchange failed. An address the setting cannot give (an ini edited by hand) sent
// nothing anywhere: that is the reason, not the network.
Why whyNotSent(const std::wstring& server, const Outcome& outcome) {
    const ServerAddress address = readServerAddress(server);
    if (address.ok) return whyFailed(outcome, kServer);
    return {L"the server address cannot be used: " + address.why, L"server address not usable"};
}

// How the log names a track.
std::wstring artistAndTitle(const std::wstring& artist, const std::wstring& title) {
    return trimBlanks(artist) + L" - " + trimBlanks(title);
}

// What a failed exchange tells the log and the schedule.
struct Failure {
    std::wstring words, brief;
    AttemptResult result = AttemptResult::unreachable;
};

// Not reached, a reply cut short, a server error or another's page: tried again on the
// schedule. A refused token or certificate needs the user; a refused listen is never
// resent.
Failure failureOf(const Why& notSent, const Outcome& outcome, const ListenBrainzReply& answer,
                  const std::string& body) {
    Failure f;
    const std::wstring status = decimalText(answer.status);
    const std::wstring said = answer.json.error ? L": " + *answer.json.error : quotedReply(body);
    if (!outcome.ok() || cutShort(outcome)) {
        f.words = notSent.words;
        f.brief = notSent.brief;
        const bool unreachable = cutShort(outcome) || (outcome.kind == OutcomeKind::noConnection &&
                                                       outcome.stepEnd != StepEnd::abandoned);
        if (!unreachable) f.result = AttemptResult::needsUser;
    } else if (answer.status == 0) {
        f.words = f.brief = L"the server's reply was no HTTP reply";
    } else if (answer.status == 401) {
        f.words = L"the user token was not accepted" + said;
        f.brief = L"token not accepted";
        f.result = AttemptResult::needsUser;
    } else if (answer.status == 429) {
        const std::wstring seconds = decimalText(answer.waitSeconds);
        f.words = joined({L"too many requests, waiting ", seconds, L" s"});
        f.brief = joined({L"waiting ", seconds, L" s"});
    } else if (answer.status >= 500) {
        f.words = joined({L"the server failed with ", status, said});
        f.brief = L"server error " + status;
    } else if (answer.status == 200) {
        // Taken only on ListenBrainz's own "ok": a 200 of another's says nothing.
        f.words = joined({L"the server answered 200 without ListenBrainz's \"ok\"", said});
        f.brief = L"answered 200";
    } else if (answer.json.isServiceError(answer.status)) {
        f.words = joined({L"the server refused it with ", status, said});
        f.brief = L"refused with " + status;
        f.result = AttemptResult::done;
    } else {
        // Not ListenBrainz speaking: a proxy, a front server, a wrong address.
        f.words =
            joined({L"the server answered ", status, L" with no error of ListenBrainz's", said});
        f.brief = L"answered " + status;
    }
    return f;
}

// One account's playing-now and listens.
class ListenBrainzTarget : public Target {
  public:
    explicit ListenBrainzTarget(size_t account)
        : account_(account),
          k_(kListenBrainzAccounts[account]),
          line_(account == 0 ? ResultLine::listenBrainz
                             : ResultLine(int(ResultLine::listenBrainzMore) + int(account) - 1)),
          file_(queueFileName(L"nimbo-listens", account)),
          lane_(file_, kListenWords, kMaxListensPerRequest) {}

    bool ready(const Settings& settings) const override {
        return settings.*k_.on == 1 && !trimBlanks(token(settings)).empty() &&
               token(settings) != rejectedToken_;
    }
    bool takesFields() const override { return true; }
    bool send(const Wanted& wanted, const Settings& settings, uint64_t now) override;
    void switchedOff(const Settings& settings) override {
        if (!clearable(settings) || cycleClockMs() < serverWaitUntil_) return;
        Wanted off;
        off.clear = true;
        off.reason = L"publishing switched off";
        clear(off, settings, cycleClockMs(), kTickExchange);
    }
    bool clearsAtQuit(const Settings& settings) const override {
        // A server that asked to wait gets nothing more; its playing-now ends by itself.
        return clearable(settings) && cycleClockMs() >= serverWaitUntil_;
    }
    void clearAtQuit(const Settings& settings, const ExchangeLimits& limits) override {
        Wanted quitting;
        quitting.clear = true;
        quitting.reason = L"Winamp quits";
        clear(quitting, settings, cycleClockMs(), limits);
    }
    void reset() override;
    // Counted with a token the server refused too: they wait for the user's new one.
    bool countsListens(const Settings& s) const override {
        return s.*k_.on == 1 && s.*k_.listens == 1 && !trimBlanks(token(s)).empty();
    }
    void listened(const QueuedListen& listen) override;
    bool backlogDue(const Settings& s, uint64_t now) const override {
        return lane_.due(now) && spacing_.dueBy(now) && listensOn(s);
    }
    void sendBacklog(const Settings& settings, uint64_t now) override {
        lane_.rename(head(settings));
        struct Turn {
            ListenBrainzTarget* target;
            const Settings* settings;
            uint64_t now;
        } turn{this, &settings, now};
        lane_.sendBacklog(
            now,
            [](void* c, const std::vector<QueuedListen>& batch, bool single) {
                const Turn& t = *static_cast<Turn*>(c);
                return t.target->sendListens(*t.settings, t.now, batch, single);
            },
            &turn);
    }

    // For the options window, on its own thread.
    long waiting(bool& refused) const {
        readSettings([&](const Settings& s) { refused = rejectedMark_.matches(token(s)); });
        return lane_.waitingCount();
    }
    void dropQueue() { dropQueueFile(queueFileName(L"nimbo-listens", account_), lane_); }

  private:
    const std::wstring& token(const Settings& s) const { return s.*k_.token; }
    const std::wstring& server(const Settings& s) const { return s.*k_.server; }
    // "ListenBrainz: ", or the account's own name, before its log lines.
    std::wstring head(const Settings& s) const {
        return listenBrainzAccountName(s, account_) + L": ";
    }

    // As the site's: unknown at start, when a playing-now of an earlier run may stand.
    enum class Shown { unknown, playing, cleared };

    // One request; false (after logging and telling the schedule) when it failed.
    // Listens leave the schedule of tries alone.
    bool exchange(const Settings& settings, ListenBrainzCall call, const std::string& body,
                  const ExchangeLimits& limits, const std::wstring& failedHead, uint64_t now,
                  bool listens = false);
    void failed(const Settings& settings, const Failure& failure, int waitSeconds,
                const std::wstring& failedHead, uint64_t now, bool listens);
    bool noClearHere(ListenBrainzCall call, const Settings& settings);
    AttemptResult clear(const Wanted& wanted, const Settings& settings, uint64_t now,
                        const ExchangeLimits& limits);
    bool clearable(const Settings& settings) const {
        return ready(settings) && shown_ != Shown::cleared &&
               !(noClear_ && server(settings) == noClearServer_);
    }

    Shown shown_ = Shown::unknown;
    RequestSpacing spacing_;
    uint64_t serverWaitUntil_ = 0;  // the server's wait alone
    std::wstring rejectedToken_;    // the token the server refused: silent until it changes
    RefusalMark rejectedMark_;      // and its mark for the options window
    bool noClear_ = false;          // the server at noClearServer_ has no playing-now clear
    std::wstring noClearServer_;
    AttemptResult lastResult_ = AttemptResult::done;
    int lastStatus_ = 0;             // the last reply's status; 0: not reached or cut short
    bool lastServiceError_ = false;  // and whether it was ListenBrainz's own error
    std::wstring lastError_;         // and the error it gave

    // Listens: what waits in the queue file goes through the lane.
    bool listensOn(const Settings& s) const { return ready(s) && s.*k_.listens == 1; }
    BatchOutcome sendListens(const Settings& settings, uint64_t now,
                             const std::vector<QueuedListen>& batch, bool single);

    const size_t account_;
    const ListenBrainzKeys& k_;
    const ResultLine line_;
    QueueFileLane file_;
    ListenLane lane_;
};

bool ListenBrainzTarget::exchange(const Settings& settings, ListenBrainzCall call,
                                  const std::string& body, const ExchangeLimits& limits,
                                  const std::wstring& failedHead, uint64_t now, bool listens) {
    // A request due within the second's slack, or a clear that cannot wait for the next
    // tick (switched off, quit), waits out the second here; never the server's own wait.
    const ExchangeLimits left = spacing_.waitTurn(limits);
    const uint64_t started = cycleClockMs();
    HttpReply reply;
    const Outcome outcome = configuredApiExchange(
        listenBrainzRequest(server(settings), token(settings), call, body), reply, left);
    // One second between the starts of any two requests: a catch-up then sends one a
    // tick, and a playing-now waits at most the slack behind listens.
    spacing_.started(started);
    const ListenBrainzReply answer = readListenBrainzReply(reply);
    const bool reached = outcome.ok() && !cutShort(outcome);
    lastStatus_ = reached ? answer.status : 0;
    lastServiceError_ = reached && answer.json.isServiceError(answer.status);
    lastError_ = answer.json.error.value_or(std::wstring());
    // A submission counts only on ListenBrainz's own {"status":"ok"}; a clear that finds
    // nothing of ours to clear has done its job.
    const bool fine =
        (answer.status == 200 &&
         (call != ListenBrainzCall::submitListens || answer.json.isServiceOk())) ||
        (call == ListenBrainzCall::clearPlayingNow && answer.status == 404 && lastServiceError_);
    if (reached && fine) {
        lastResult_ = AttemptResult::done;
        // Listens that wait go after the next success.
        lane_.goAtOnce();
        return true;
    }
    if (reached && answer.status == 404 && noClearHere(call, settings)) return false;
    failed(settings, failureOf(whyNotSent(server(settings), outcome), outcome, answer, reply.body),
           int(answer.waitSeconds), failedHead, now, listens);
    return false;
}

void ListenBrainzTarget::failed(const Settings& settings, const Failure& failure, int waitSeconds,
                                const std::wstring& failedHead, uint64_t now, bool listens) {
    lastResult_ = failure.result;
    logActivity(joined({head(settings), listens ? std::wstring() : tryPrefix(), failedHead, L": ",
                        failure.words}),
                failedHead, failure.brief, line_);
    if (!listens) schedule_.attempted(now, lastResult_);
    if (lastStatus_ == 429) {
        serverWaitUntil_ = cycleClockMs() + uint64_t(waitSeconds) * 1000;
        spacing_.waitUntil(serverWaitUntil_);
        // A try that waits goes no earlier; listens add no try of their own.
        if (!listens || schedule_.waiting()) schedule_.waitUntil(serverWaitUntil_);
    }
    if (lastStatus_ == 401) {
        rejectedToken_ = token(settings);
        rejectedMark_.set(rejectedToken_);
        showError(joined({L"Nimbo : ", listenBrainzAccountName(settings, account_),
                          L" did not accept the user token"}));
    }
}

// A server without the playing-now clear (a self-hosted one) answers its own 404: said
// once, and no clear goes to that address again.
bool ListenBrainzTarget::noClearHere(ListenBrainzCall call, const Settings& settings) {
    if (call != ListenBrainzCall::clearPlayingNow || lastServiceError_) return false;
    noClear_ = true;
    noClearServer_ = server(settings);
    lastResult_ = AttemptResult::done;
    logActivity(head(settings) + L"the server has no playing-now clear", L"not cleared",
                L"the server has no clear", line_);
    schedule_.attempted(cycleClockMs(), AttemptResult::done);
    return true;
}

AttemptResult ListenBrainzTarget::clear(const Wanted& wanted, const Settings& settings,
                                        uint64_t now, const ExchangeLimits& limits) {
    const std::wstring failedHead = joined({L"playing now not cleared (", wanted.reason, L")"});
    if (!exchange(settings, ListenBrainzCall::clearPlayingNow, kClearPlayingNowBody, limits,
                  failedHead, now))
        return lastResult_;
    shown_ = Shown::cleared;
    logActivity(joined({head(settings), tryPrefix(), L"playing now cleared: ", wanted.reason}),
                L"cleared", wanted.reason, line_);
    schedule_.attempted(now, AttemptResult::done);
    return AttemptResult::done;
}

bool ListenBrainzTarget::send(const Wanted& wanted, const Settings& settings, uint64_t now) {
    if (!spacing_.dueBy(now)) {
        // Too soon after the last request, or the server asked to wait: this goes then.
        schedule_.waitUntil(spacing_.next());
        return true;
    }
    if (wanted.clear) {
        if (!clearable(settings)) return false;
        clear(wanted, settings, now, kTickExchange);
        return true;
    }
    // "Playing now" while Winamp is paused or stopped would be wrong; what shows stays
    // (unless the options clear it) and the service drops it in its time.
    if (!wanted.playing) return false;
    ListenFields fields{wanted.fields.artist, wanted.fields.title, wanted.fields.album,
                        wanted.lengthSeconds, wanted.fields.ids,   wanted.fields.playerVersion};
    if (!submittable(fields)) {
        if (schedule_.failedTries() == 0)
            logActivity(head(settings) + L"not published: no artist or no title", L"not published",
                        L"no artist or title", line_);
        return false;
    }
    const std::wstring what = artistAndTitle(fields.artist, fields.title);
    if (!exchange(settings, ListenBrainzCall::submitListens,
                  listensBody(ListenType::playingNow, {Listen{fields, 0}}), kTickExchange,
                  L"not published", now))
        return true;
    shown_ = Shown::playing;
    logActivity(joined({head(settings), tryPrefix(), L"published: ", what}), L"published", what,
                line_);
    schedule_.attempted(now, AttemptResult::done);
    return true;
}

ListenFields fieldsOf(const QueuedListen& q) {
    return {q.artist, q.title, q.album, q.lengthSeconds, q.ids, q.playerVersion};
}

void ListenBrainzTarget::reset() {
    schedule_ = PublishSchedule();
    shown_ = Shown::unknown;
    spacing_.reset();
    serverWaitUntil_ = 0;
    rejectedToken_.clear();
    rejectedMark_.clear();
    noClear_ = false;
    noClearServer_.clear();
    lastResult_ = AttemptResult::done;
    lastStatus_ = 0;
    lastServiceError_ = false;
    lastError_.clear();
    lane_.reset();
}

void ListenBrainzTarget::listened(const QueuedListen& listen) {
    const std::wstring named = head(currentSettings());
    if (!submittable(fieldsOf(listen))) {
        logActivity(named + L"listen not kept: no artist or no title");
        return;
    }
    lane_.rename(named);
    lane_.listened(listen);
}

BatchOutcome ListenBrainzTarget::sendListens(const Settings& settings, uint64_t now,
                                             const std::vector<QueuedListen>& batch, bool single) {
    std::vector<Listen> listens;
    for (const QueuedListen& q : batch) listens.push_back(Listen{fieldsOf(q), q.listenedAt});
    BatchOutcome outcome;
    outcome.server = server(settings);
    if (exchange(settings, ListenBrainzCall::submitListens,
                 listensBody(single ? ListenType::single : ListenType::import, listens),
                 kTickExchange, L"listens not sent", now, true)) {
        outcome.kind = BatchOutcome::Kind::taken;
        outcome.leaving = batch.size();
    } else if (lastStatus_ == 400 && lastServiceError_) {
        outcome.kind = BatchOutcome::Kind::refused;
        outcome.why = lastError_;
    } else if (lastStatus_ == 413) {
        // A front server's size limit below the service's own.
        outcome.kind = BatchOutcome::Kind::splitUp;
    } else if (lastStatus_ == 429 || lastStatus_ == 401) {
        outcome.kind = BatchOutcome::Kind::held;
    }
    return outcome;
}

ListenBrainzTarget gListenBrainzTargets[kAccounts] = {ListenBrainzTarget(0), ListenBrainzTarget(1),
                                                      ListenBrainzTarget(2), ListenBrainzTarget(3)};

}  // namespace

long listensWaiting(size_t account, bool& refused) {
    return gListenBrainzTargets[account].waiting(refused);
}

void dropListens(size_t account) {
    gListenBrainzTargets[account].dropQueue();
}

std::wstring checkListenBrainzToken(const std::wstring& server, const std::wstring& token) {
    if (trimBlanks(token).empty()) return L"Not valid";
    HttpReply reply;
    // Each wait keeps its 5 s bound; quit ends the check at once.
    const ExchangeLimits limits = {30000, true};
    const Outcome outcome = configuredApiExchange(
        listenBrainzRequest(server, token, ListenBrainzCall::validateToken, std::string()), reply,
        limits);
    if (!outcome.ok() || cutShort(outcome))
        return L"Not reached: " + whyFailed(outcome, kServer).brief;
    const ListenBrainzReply answer = readListenBrainzReply(reply);
    if (answer.status == 401 || (answer.status == 200 && answer.json.valid == false))
        return L"Not valid";
    if (answer.status != 200 || !answer.json.valid)
        return L"Not reached: the server answered " + decimalText(answer.status);
    return L"Valid: " + answer.json.userName.value_or(std::wstring());
}

Target& listenBrainzTarget(size_t account) {
    return gListenBrainzTargets[account];
}

}  // namespace nimbo
