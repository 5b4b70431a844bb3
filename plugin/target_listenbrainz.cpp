#include "plugin/target_listenbrainz.h"

#include <atomic>
#include <ctime>
#include <vector>

#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"
#include "core/listen_rule.h"
#include "core/state.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"
#include "plugin/messages.h"
#include "probe/probe.h"

namespace nimbo {

const wchar_t kListenBrainzTokenRejected[] = L"Nimbo : ListenBrainz did not accept the user token";

namespace {

// The queue's count for the options window (another thread); -1: not read yet.
std::atomic<long> gListensWaiting{-1};

// The service asks for at most one request a second from a client.
constexpr uint64_t kRequestSpacingMs = 1000;
// A tick this close to the second's end counts as at it: the exchange waits out the rest.
constexpr uint64_t kLaneSlackMs = 250;

const wchar_t kHead[] = L"ListenBrainz: ";

// What the failure words call the peer.
const wchar_t kServer[] = L"the server";

// Why an exchange failed. An address the setting cannot give (an ini edited by hand) sent
// nothing anywhere: that is the reason, not the network.
Why whyNotSent(const Settings& settings, const Outcome& outcome) {
    const ServerAddress address = readServerAddress(settings.ListenBrainzServer);
    if (address.ok) return whyFailed(outcome, kServer);
    return {L"the server address cannot be used: " + address.why, L"server address not usable"};
}

// How the log names a track.
std::wstring artistAndTitle(const std::wstring& artist, const std::wstring& title) {
    return trimBlanks(artist) + L" - " + trimBlanks(title);
}

class ListenBrainzTarget : public Target {
  public:
    bool ready(const Settings& settings) const override {
        return settings.ListenBrainz == 1 && !trimBlanks(settings.ListenBrainzToken).empty() &&
               settings.ListenBrainzToken != rejectedToken_;
    }
    bool takesFields() const override { return true; }
    bool send(const Wanted& wanted, const Settings& settings, uint64_t now) override;
    void switchedOff(const Settings& settings) override {
        if (!ready(settings) || shown_ == Shown::cleared || cycleClockMs() < serverWaitUntil_)
            return;
        Wanted off;
        off.clear = true;
        off.reason = L"publishing switched off";
        clear(off, settings, cycleClockMs(), kTickExchange);
    }
    bool clearsAtQuit(const Settings& settings) const override {
        // A server that asked to wait gets nothing more; its playing-now ends by itself.
        return ready(settings) && shown_ != Shown::cleared && cycleClockMs() >= serverWaitUntil_;
    }
    void clearAtQuit(const Settings& settings, const ExchangeLimits& limits) override {
        Wanted quitting;
        quitting.clear = true;
        quitting.reason = L"Winamp quits";
        clear(quitting, settings, cycleClockMs(), limits);
    }
    void reset() override {
        schedule_ = PublishSchedule();
        shown_ = Shown::unknown;
        notBefore_ = serverWaitUntil_ = listensNotBefore_ = 0;
        rejectedToken_.clear();
        rule_ = ListenRule();
        rulePath_.clear();
        ruleTitle_.clear();
        setWaiting(-1);
        fresh_ = false;
        splitLeft_ = 0;
        backlogFailures_ = 0;
        backlogAt_ = 0;
        unsaved_.clear();
    }
    // Counted with a token the server refused too: they wait for the user's new one.
    bool countsListens(const Settings& s) const override {
        return s.ListenBrainz == 1 && s.ListenBrainzListens == 1 &&
               !trimBlanks(s.ListenBrainzToken).empty();
    }
    bool observe(const std::wstring& path, const std::wstring& streamTitle, int playCode,
                 uint64_t now) override;
    void listened(const Wanted& wanted) override;
    bool backlogDue(const Settings& s, uint64_t now) const override {
        return (waiting_ != 0 || !unsaved_.empty()) && now >= backlogAt_ &&
               now + kLaneSlackMs >= listensNotBefore_ && listensOn(s);
    }
    void sendBacklog(const Settings& settings, uint64_t now) override;

  private:
    // As the site's: unknown at start, when a playing-now of an earlier run may stand.
    enum class Shown { unknown, playing, cleared };

    // One request; false (after logging and telling the schedule) when it failed.
    // Listens keep their own second between requests, so they never hold a playing-now
    // back, and leave the schedule of tries alone.
    bool exchange(const Settings& settings, ListenBrainzCall call, const std::string& body,
                  const ExchangeLimits& limits, const std::wstring& failedHead, uint64_t now,
                  bool listens = false);
    AttemptResult clear(const Wanted& wanted, const Settings& settings, uint64_t now,
                        const ExchangeLimits& limits);

    Shown shown_ = Shown::unknown;
    uint64_t notBefore_ = 0;        // no request before this (spacing, or the server's wait)
    uint64_t serverWaitUntil_ = 0;  // the server's wait alone
    std::wstring rejectedToken_;    // the token the server refused: silent until it changes
    AttemptResult lastResult_ = AttemptResult::done;
    int lastStatus_ = 0;      // the last reply's status; 0: not reached or cut short
    std::wstring lastError_;  // and the error it gave

    // Listens: the rule for the entry playing, and what waits in the queue file.
    bool listensOn(const Settings& s) const { return ready(s) && s.ListenBrainzListens == 1; }
    void sendListens(const Settings& settings, uint64_t now, std::vector<QueuedListen> batch,
                     bool single);
    void setWaiting(long count) {
        waiting_ = count;
        gListensWaiting = count;
    }
    ListenRule rule_;
    std::wstring rulePath_, ruleTitle_;  // the entry ruleLength_ belongs to
    int ruleLength_ = -1;
    int lengthAsks_ = 0;                 // asks while the length was not known yet
    long waiting_ = -1;                  // listens in the queue file; -1: not read yet
    bool fresh_ = false;                 // the one waiting was reached just now: "single"
    size_t splitLeft_ = 0;               // listens of a refused batch still to go one by one
    int backlogFailures_ = 0;            // tries in a row that did not get through
    uint64_t backlogAt_ = 0;             // no listens go before this
    uint64_t listensNotBefore_ = 0;      // the second between two requests of listens
    std::vector<QueuedListen> unsaved_;  // listens the file could not take: sent from memory
};

bool ListenBrainzTarget::exchange(const Settings& settings, ListenBrainzCall call,
                                  const std::string& body, const ExchangeLimits& limits,
                                  const std::wstring& failedHead, uint64_t now, bool listens) {
    // A clear that cannot wait for the next tick (switched off, quit) waits out the
    // second between two requests here; the server's own wait it never sends into.
    const uint64_t started = cycleClockMs();
    const uint64_t lane = listens ? listensNotBefore_ : notBefore_;
    if (started < lane && lane - started <= kRequestSpacingMs) Sleep(DWORD(lane - started));
    HttpReply reply;
    const Outcome outcome = configuredApiExchange(
        listenBrainzRequest(settings.ListenBrainzServer, settings.ListenBrainzToken, call, body),
        reply, limits);
    // Listens count their second from the request's start: a catch-up then sends one a
    // tick, not one every other tick.
    if (listens)
        listensNotBefore_ = (started > lane ? started : lane) + kRequestSpacingMs;
    else
        notBefore_ = cycleClockMs() + kRequestSpacingMs;
    const ListenBrainzReply answer = readListenBrainzReply(reply);
    // A clear that finds nothing of ours to clear has done its job.
    const bool fine =
        answer.status == 200 || (call == ListenBrainzCall::clearPlayingNow && answer.status == 404);
    lastStatus_ = outcome.ok() && !cutShort(outcome) ? answer.status : 0;
    lastError_ = answer.json.error.value_or(std::wstring());
    if (outcome.ok() && !cutShort(outcome) && fine) {
        lastResult_ = AttemptResult::done;
        // Listens that wait go after the next success.
        backlogAt_ = 0;
        return true;
    }

    // Not reached, or a reply cut short, or a server error: tried again on the schedule.
    // A refused token or certificate needs the user; a refused listen is never resent.
    std::wstring words, brief;
    lastResult_ = AttemptResult::unreachable;
    const std::wstring status = widen(std::to_string(answer.status));
    const std::wstring said = answer.json.error ? L": " + *answer.json.error : std::wstring();
    if (!outcome.ok() || cutShort(outcome)) {
        const Why why = whyNotSent(settings, outcome);
        words = why.words;
        brief = why.brief;
        const bool unreachable = cutShort(outcome) || (outcome.kind == OutcomeKind::noConnection &&
                                                       outcome.stepEnd != StepEnd::abandoned);
        if (!unreachable) lastResult_ = AttemptResult::needsUser;
    } else if (answer.status == 0) {
        words = brief = L"the server's reply was no HTTP reply";
    } else if (answer.status == 401) {
        words = L"the user token was not accepted" + said;
        brief = L"token not accepted";
        lastResult_ = AttemptResult::needsUser;
    } else if (answer.status == 429) {
        const std::wstring seconds = widen(std::to_string(answer.waitSeconds));
        words = L"too many requests, waiting " + seconds + L" s";
        brief = L"waiting " + seconds + L" s";
    } else if (answer.status >= 500) {
        words = L"the server failed with " + status + said;
        brief = L"server error " + status;
    } else {
        words = L"the server refused it with " + status + said;
        brief = L"refused with " + status;
        lastResult_ = AttemptResult::done;
    }
    logActivity(kHead + (listens ? std::wstring() : tryPrefix()) + failedHead + L": " + words,
                failedHead, brief, ResultLine::listenBrainz);
    if (!listens) schedule_.attempted(now, lastResult_);
    if (answer.status == 429) {
        notBefore_ = serverWaitUntil_ = listensNotBefore_ =
            cycleClockMs() + uint64_t(answer.waitSeconds) * 1000;
        // A try that waits goes no earlier; listens add no try of their own.
        if (!listens || schedule_.waiting()) schedule_.waitUntil(notBefore_);
    }
    if (answer.status == 401 && outcome.ok()) {
        rejectedToken_ = settings.ListenBrainzToken;
        showError(kListenBrainzTokenRejected);
    }
    return false;
}

AttemptResult ListenBrainzTarget::clear(const Wanted& wanted, const Settings& settings,
                                        uint64_t now, const ExchangeLimits& limits) {
    const std::wstring head = L"playing now not cleared (" + wanted.reason + L")";
    if (!exchange(settings, ListenBrainzCall::clearPlayingNow, kClearPlayingNowBody, limits, head,
                  now))
        return lastResult_;
    shown_ = Shown::cleared;
    logActivity(kHead + tryPrefix() + L"playing now cleared: " + wanted.reason, L"cleared",
                wanted.reason, ResultLine::listenBrainz);
    schedule_.attempted(now, AttemptResult::done);
    return AttemptResult::done;
}

bool ListenBrainzTarget::send(const Wanted& wanted, const Settings& settings, uint64_t now) {
    if (now < notBefore_) {
        // Too soon after the last request, or the server asked to wait: this goes then.
        schedule_.waitUntil(notBefore_);
        return true;
    }
    if (wanted.clear) {
        if (shown_ == Shown::cleared) return false;
        clear(wanted, settings, now, kTickExchange);
        return true;
    }
    // "Playing now" while Winamp is paused or stopped would be wrong; what shows stays
    // (unless the options clear it) and the service drops it in its time.
    if (!wanted.playing) return false;
    ListenFields fields{wanted.fields.artist, wanted.fields.title, wanted.fields.album,
                        wanted.lengthSeconds};
    if (!submittable(fields)) {
        if (schedule_.failedTries() == 0)
            logActivity(std::wstring(kHead) + L"not published: no artist or no title",
                        L"not published", L"no artist or title", ResultLine::listenBrainz);
        return false;
    }
    const std::wstring what = artistAndTitle(fields.artist, fields.title);
    if (!exchange(settings, ListenBrainzCall::submitListens,
                  listensBody(ListenType::playingNow, {Listen{fields, 0}}), kTickExchange,
                  L"not published", now))
        return true;
    shown_ = Shown::playing;
    logActivity(kHead + tryPrefix() + L"published: " + what, L"published", what,
                ResultLine::listenBrainz);
    schedule_.attempted(now, AttemptResult::done);
    return true;
}

bool ListenBrainzTarget::observe(const std::wstring& path, const std::wstring& streamTitle,
                                 int playCode, uint64_t now) {
    if (path != rulePath_ || streamTitle != ruleTitle_) {
        rulePath_ = path;
        ruleTitle_ = streamTitle;
        lengthAsks_ = 0;
        ruleLength_ = -1;
    }
    // Asked once an entry; a length Winamp does not know yet is asked again for a few
    // ticks (a stream never has one), so the idle tick adds one query (the position).
    if (ruleLength_ <= 0 && playCode == 1 && lengthAsks_ < 10) {
        ++lengthAsks_;
        ruleLength_ = lengthSeconds();
    }
    PlayerSample sample;
    // The position tells a seek from play and a track played again from the start.
    if (playCode == 1 || playCode == 3) sample.positionMs = positionMs();
    sample.nowMs = now;
    sample.unixSeconds = int64_t(time(nullptr));
    sample.state = playCode == 1   ? PlayState::playing
                   : playCode == 3 ? PlayState::paused
                                   : PlayState::stopped;
    sample.lengthSeconds = ruleLength_;
    return rule_.feed(path, streamTitle, sample);
}

ListenFields fieldsOf(const QueuedListen& q) {
    return {q.artist, q.title, q.album, q.lengthSeconds};
}

std::wstring named(const QueuedListen& q) {
    return artistAndTitle(q.artist, q.title) + L" (listened at " +
           widen(std::to_string(q.listenedAt)) + L")";
}

void ListenBrainzTarget::listened(const Wanted& wanted) {
    // A private track leaves no trace, not even a line in the log.
    if (wanted.clear) return;
    const QueuedListen listen{rule_.listenedAt(), wanted.lengthSeconds, wanted.fields.artist,
                              wanted.fields.title, wanted.fields.album};
    if (!submittable(fieldsOf(listen))) {
        logActivity(std::wstring(kHead) + L"listen not kept: no artist or no title");
        return;
    }
    // On the disk before it goes anywhere: a crash or a day offline loses nothing.
    size_t dropped = 0;
    if (appendListen(listenQueuePath(), listen, dropped) != QueueStatus::done) {
        logActivity(std::wstring(kHead) + L"the listen queue could not be written: " +
                    named(listen) + L" is kept until Winamp quits");
        unsaved_.push_back(listen);
    } else if (waiting_ >= 0) {
        setWaiting(waiting_ + 1 - long(dropped));
    }
    if (dropped > 0)
        logActivity(std::wstring(kHead) + L"the listen queue is full: " +
                    widen(std::to_string(dropped)) + L" oldest dropped");
    fresh_ = true;
    backlogAt_ = 0;
}

void ListenBrainzTarget::sendBacklog(const Settings& settings, uint64_t now) {
    // A listen the file could not take goes there first once it can; else from memory.
    size_t dropped = 0;
    while (!unsaved_.empty() &&
           appendListen(listenQueuePath(), unsaved_.front(), dropped) == QueueStatus::done)
        unsaved_.erase(unsaved_.begin());
    if (!unsaved_.empty()) {
        sendListens(settings, now, std::vector<QueuedListen>(1, unsaved_.front()), true);
        return;
    }
    QueueContents queue;
    const QueueStatus read = loadListens(listenQueuePath(), queue);
    if (read != QueueStatus::done) {
        if (read == QueueStatus::failed)
            logActivity(std::wstring(kHead) + L"the listen queue could not be read");
        backlogAt_ = now + retryDelayMs(++backlogFailures_);
        return;
    }
    if (waiting_ < 0 && queue.torn > 0)
        logActivity(std::wstring(kHead) + L"the listen queue's last line was cut off; skipped");
    setWaiting(long(queue.listens.size()));
    if (queue.listens.empty()) return;
    // Oldest first, at most 100 a request; a refused batch's listens go one by one.
    size_t count = splitLeft_ > 0 ? 1 : 100;
    if (count > queue.listens.size()) count = queue.listens.size();
    std::vector<QueuedListen> batch(queue.listens.begin(), queue.listens.begin() + count);
    sendListens(settings, now, std::move(batch), fresh_ && queue.listens.size() == 1);
}

void ListenBrainzTarget::sendListens(const Settings& settings, uint64_t now,
                                     std::vector<QueuedListen> batch, bool single) {
    std::vector<Listen> listens;
    for (const QueuedListen& q : batch) listens.push_back(Listen{fieldsOf(q), q.listenedAt});
    fresh_ = false;
    const bool sent =
        exchange(settings, ListenBrainzCall::submitListens,
                 listensBody(single ? ListenType::single : ListenType::import, listens),
                 kTickExchange, L"listens not sent", now, true);
    if (!sent && lastStatus_ == 400 && batch.size() > 1) {
        // One of them is bad: each goes alone, so only what is refused is dropped.
        splitLeft_ = batch.size();
        return;
    }
    if (!sent && lastStatus_ != 400) {
        // Not reached, a server error, a wait or a refused token: all of them stay.
        if (lastStatus_ != 429 && lastStatus_ != 401)
            backlogAt_ = now + retryDelayMs(++backlogFailures_);
        return;
    }
    if (!sent)
        logActivity(std::wstring(kHead) + L"listen refused and dropped: " + named(batch[0]) +
                    L": " + lastError_);
    else
        logActivity(std::wstring(kHead) +
                    (batch.size() == 1 ? L"listen sent: " + named(batch[0])
                                       : widen(std::to_string(batch.size())) + L" listens sent"));
    backlogFailures_ = 0;
    if (splitLeft_ > 0) --splitLeft_;
    if (unsaved_.empty()) {
        if (removeListens(listenQueuePath(), batch) == QueueStatus::done && waiting_ >= 0)
            setWaiting(waiting_ - long(batch.size()));
        else
            setWaiting(-1);  // read again
    } else {
        unsaved_.erase(unsaved_.begin());
    }
}

}  // namespace

long listensWaiting() {
    const long known = gListensWaiting;
    if (known >= 0) return known;
    QueueContents queue;
    if (loadListens(listenQueuePath(), queue) != QueueStatus::done) return -1;
    return long(queue.listens.size());
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
        return L"Not reached: the server answered " + widen(std::to_string(answer.status));
    return L"Valid: " + answer.json.userName.value_or(std::wstring());
}

Target& listenBrainzTarget() {
    static ListenBrainzTarget target;
    return target;
}

}  // namespace nimbo
