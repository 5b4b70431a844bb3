#include "plugin/target_listenbrainz.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"
#include "core/state.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"
#include "plugin/messages.h"

namespace nimbo {

const wchar_t kListenBrainzTokenRejected[] = L"Nimbo : ListenBrainz did not accept the user token";

namespace {

// The queue's count for the options window (another thread); -1: not read yet.
std::atomic<long> gListensWaiting{-1};

// The service asks for at most one request a second from a client, whatever it carries.
constexpr uint64_t kRequestSpacingMs = 1000;
// A tick this close to the second's end counts as at it: the exchange waits out the rest.
constexpr uint64_t kSpacingSlackMs = 250;
// At the queue's bound every append rewrites the whole file: listens held in memory go
// to it a few a turn.
constexpr size_t kUnsavedPerTurn = 10;
// Refused listens in a row after which a refusal is no longer taken for the listen's
// fault: the rest stay.
constexpr int kMostRefusedInRow = 3;

const wchar_t kHead[] = L"ListenBrainz: ";

// The listens that wait for ListenBrainz; each target that keeps listens has its own file.
std::wstring queuePath() {
    return listenQueuePath(L"nimbo-listens.txt");
}

// The failure words name the server, not the site.
Why serverWhy(const Outcome& outcome) {
    Why why = whyFailed(outcome);
    why.words = replaceText(why.words, L"the site", L"the server", true);
    why.brief = replaceText(why.brief, L"the site", L"the server", true);
    return why;
}

// How the log names a track.
std::wstring artistAndTitle(const std::wstring& artist, const std::wstring& title) {
    return trimBlanks(artist) + L" - " + trimBlanks(title);
}

std::wstring number(int64_t n) {
    return widen(std::to_string(n));
}

// ListenBrainz's own error: JSON with the reply's code and a text. A front server's or
// a proxy's page (HTML, or anything else) says nothing about the listens.
bool serviceError(const ListenBrainzReply& answer) {
    return answer.json.code && *answer.json.code == answer.status && answer.json.error;
}

// A reply that is not the service's own, quoted for the log: its title when it is a
// page, else its start, on one line.
std::wstring quoted(const std::string& body) {
    std::string text = body;
    const size_t title = text.find("<title>");
    if (title != std::string::npos)
        text = text.substr(title + 7, text.find("</title>") - title - 7);
    if (text.size() > 120) text.resize(120);
    std::wstring line = decodeUtf8(text, Utf8Malformed::replaceEach);
    for (wchar_t& c : line)
        if (c < L' ') c = L' ';
    line = trimBlanks(line);
    return line.empty() ? line : L": \"" + line + L"\"";
}

// What a failed exchange tells the log and the schedule.
struct Failure {
    std::wstring words, brief;
    AttemptResult result = AttemptResult::unreachable;
};

// Not reached, a reply cut short, a server error or another's page: tried again on the
// schedule. A refused token or certificate needs the user; a refused listen is never
// resent.
Failure failureOf(const Outcome& outcome, const ListenBrainzReply& answer,
                  const std::string& body) {
    Failure f;
    const std::wstring status = number(answer.status);
    const std::wstring said = answer.json.error ? L": " + *answer.json.error : quoted(body);
    if (!outcome.ok() || cutShort(outcome)) {
        const Why why = serverWhy(outcome);
        f.words = why.words;
        f.brief = why.brief;
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
        const std::wstring seconds = number(answer.waitSeconds);
        f.words = L"too many requests, waiting " + seconds + L" s";
        f.brief = L"waiting " + seconds + L" s";
    } else if (answer.status >= 500) {
        f.words = L"the server failed with " + status + said;
        f.brief = L"server error " + status;
    } else if (serviceError(answer)) {
        f.words = L"the server refused it with " + status + said;
        f.brief = L"refused with " + status;
        f.result = AttemptResult::done;
    } else {
        // Not ListenBrainz speaking: a proxy, a front server, a wrong address.
        f.words = L"the server answered " + status + L" with no error of ListenBrainz's" + said;
        f.brief = L"answered " + status;
    }
    return f;
}

// A listen as the queue-file's rewrite failure keeps it apart: its time and line.
struct Fingerprint {
    int64_t listenedAt;
    uint32_t line;
    bool operator<(const Fingerprint& o) const {
        return listenedAt != o.listenedAt ? listenedAt < o.listenedAt : line < o.line;
    }
};

Fingerprint fingerprintOf(const QueuedListen& listen) {
    return {listen.listenedAt, queueChecksum(queueLine(listen))};
}

// `listens` without one of each listen in `gone` (the server has them already).
void leaveOut(std::vector<QueuedListen>& listens, const std::vector<QueuedListen>& gone) {
    std::vector<Fingerprint> prints;
    for (const QueuedListen& l : gone) prints.push_back(fingerprintOf(l));
    std::sort(prints.begin(), prints.end());
    std::vector<bool> used(prints.size());
    std::vector<QueuedListen> kept;
    for (QueuedListen& l : listens) {
        const Fingerprint print = fingerprintOf(l);
        size_t i = size_t(std::lower_bound(prints.begin(), prints.end(), print) - prints.begin());
        while (i < prints.size() && !(print < prints[i]) && used[i]) ++i;
        if (i < prints.size() && !(print < prints[i]))
            used[i] = true;
        else
            kept.push_back(std::move(l));
    }
    listens.swap(kept);
}

// Why the queue file could not take a change, for the log.
std::wstring queueWhy(QueueStatus status, unsigned long error) {
    if (status == QueueStatus::busy) return L"another Winamp held it for more than 2 s";
    if (error == ERROR_FILE_READ_ONLY) return L"the file is read-only";
    wchar_t text[256];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, DWORD(error), 0, text, 256, nullptr);
    while (units > 0 && (text[units - 1] == L'\n' || text[units - 1] == L'\r' ||
                         text[units - 1] == L'.' || text[units - 1] == L' '))
        --units;
    const std::wstring code = L"Windows error " + number(int64_t(error));
    return units > 0 ? code + L", " + std::wstring(text, units) : code;
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
    void reset() override {
        *this = ListenBrainzTarget();
        gListensWaiting = -1;
    }
    // Counted with a token the server refused too: they wait for the user's new one.
    bool countsListens(const Settings& s) const override {
        return s.ListenBrainz == 1 && s.ListenBrainzListens == 1 &&
               !trimBlanks(s.ListenBrainzToken).empty();
    }
    void listened(const QueuedListen& listen) override;
    bool backlogDue(const Settings& s, uint64_t now) const override {
        const bool work =
            waiting_ != 0 || !unsaved_.empty() || (!taken_.empty() && now >= removeAt_);
        return work && now >= backlogAt_ && now + kSpacingSlackMs >= nextRequestAt_ && listensOn(s);
    }
    void sendBacklog(const Settings& settings, uint64_t now) override;

  private:
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
               !(noClear_ && settings.ListenBrainzServer == noClearServer_);
    }

    Shown shown_ = Shown::unknown;
    uint64_t nextRequestAt_ = 0;    // no request before this (spacing, or the server's wait)
    uint64_t serverWaitUntil_ = 0;  // the server's wait alone
    std::wstring rejectedToken_;    // the token the server refused: silent until it changes
    bool noClear_ = false;          // the server at noClearServer_ has no playing-now clear
    std::wstring noClearServer_;
    AttemptResult lastResult_ = AttemptResult::done;
    int lastStatus_ = 0;             // the last reply's status; 0: not reached or cut short
    bool lastServiceError_ = false;  // and whether it was ListenBrainz's own error
    std::wstring lastError_;         // and the error it gave

    // Listens: the rule for the entry playing, and what waits in the queue file.
    bool listensOn(const Settings& s) const { return ready(s) && s.ListenBrainzListens == 1; }
    bool saveUnsaved();
    bool loadWaiting(QueueContents& queue, uint64_t now);
    void sendListens(const Settings& settings, uint64_t now, std::vector<QueuedListen> batch,
                     bool single, bool fromMemory);
    void refused(const std::vector<QueuedListen>& batch, uint64_t now, bool fromMemory);
    void settle(const std::vector<QueuedListen>& batch, uint64_t now, bool fromMemory);
    void removeTaken(uint64_t now);
    void backOff(uint64_t now) { backlogAt_ = now + retryDelayMs(++backlogFailures_); }
    void setWaiting(long count) {
        waiting_ = count;
        gListensWaiting = count;
    }
    long waiting_ = -1;                  // listens in the queue file; -1: not read yet
    bool fresh_ = false;                 // the one waiting was reached just now: "single"
    size_t splitLeft_ = 0;               // listens of a refused batch still to go one by one
    int refusedInRow_ = 0;               // listens refused with no accepted one since
    int backlogFailures_ = 0;            // tries in a row that did not get through
    uint64_t backlogAt_ = 0;             // no listens go before this
    std::vector<QueuedListen> unsaved_;  // listens the file could not take: sent from memory
    // Listens the server has dealt with that the file could not lose yet: left out of
    // every load, and taken out of the file again after a back-off.
    std::vector<QueuedListen> taken_;
    int removeFailures_ = 0;
    uint64_t removeAt_ = 0;
};

bool ListenBrainzTarget::exchange(const Settings& settings, ListenBrainzCall call,
                                  const std::string& body, const ExchangeLimits& limits,
                                  const std::wstring& failedHead, uint64_t now, bool listens) {
    // A request due within the second's slack, or a clear that cannot wait for the next
    // tick (switched off, quit), waits out the second here; never the server's own wait.
    const uint64_t before = cycleClockMs();
    if (before < nextRequestAt_ && nextRequestAt_ - before <= kRequestSpacingMs) {
        const DWORD rest = DWORD(nextRequestAt_ - before);
        if (limits.endsAtQuit)
            WaitForSingleObject(quitEvent(), rest);
        else
            Sleep(rest);
    }
    const uint64_t started = cycleClockMs();
    HttpReply reply;
    const Outcome outcome = configuredApiExchange(
        listenBrainzRequest(settings.ListenBrainzServer, settings.ListenBrainzToken, call, body),
        reply, limits);
    // One second between the starts of any two requests: a catch-up then sends one a
    // tick, and a playing-now waits at most the slack behind listens.
    nextRequestAt_ = started + kRequestSpacingMs;
    const ListenBrainzReply answer = readListenBrainzReply(reply);
    const bool reached = outcome.ok() && !cutShort(outcome);
    lastStatus_ = reached ? answer.status : 0;
    lastServiceError_ = reached && serviceError(answer);
    lastError_ = answer.json.error.value_or(std::wstring());
    // A clear that finds nothing of ours to clear has done its job.
    const bool fine = answer.status == 200 || (call == ListenBrainzCall::clearPlayingNow &&
                                               answer.status == 404 && lastServiceError_);
    if (reached && fine) {
        lastResult_ = AttemptResult::done;
        // Listens that wait go after the next success.
        backlogAt_ = 0;
        return true;
    }
    if (reached && answer.status == 404 && noClearHere(call, settings)) return false;
    failed(settings, failureOf(outcome, answer, reply.body), int(answer.waitSeconds), failedHead,
           now, listens);
    return false;
}

void ListenBrainzTarget::failed(const Settings& settings, const Failure& failure, int waitSeconds,
                                const std::wstring& failedHead, uint64_t now, bool listens) {
    lastResult_ = failure.result;
    logActivity(
        kHead + (listens ? std::wstring() : tryPrefix()) + failedHead + L": " + failure.words,
        failedHead, failure.brief, ResultLine::listenBrainz);
    if (!listens) schedule_.attempted(now, lastResult_);
    if (lastStatus_ == 429) {
        nextRequestAt_ = serverWaitUntil_ = cycleClockMs() + uint64_t(waitSeconds) * 1000;
        // A try that waits goes no earlier; listens add no try of their own.
        if (!listens || schedule_.waiting()) schedule_.waitUntil(nextRequestAt_);
    }
    if (lastStatus_ == 401) {
        rejectedToken_ = settings.ListenBrainzToken;
        showError(kListenBrainzTokenRejected);
    }
}

// A server without the playing-now clear (a self-hosted one) answers its own 404: said
// once, and no clear goes to that address again.
bool ListenBrainzTarget::noClearHere(ListenBrainzCall call, const Settings& settings) {
    if (call != ListenBrainzCall::clearPlayingNow || lastServiceError_) return false;
    noClear_ = true;
    noClearServer_ = settings.ListenBrainzServer;
    lastResult_ = AttemptResult::done;
    logActivity(std::wstring(kHead) + L"the server has no playing-now clear", L"not cleared",
                L"the server has no clear", ResultLine::listenBrainz);
    schedule_.attempted(cycleClockMs(), AttemptResult::done);
    return true;
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
    if (now + kSpacingSlackMs < nextRequestAt_) {
        // Too soon after the last request, or the server asked to wait: this goes then.
        schedule_.waitUntil(nextRequestAt_);
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

ListenFields fieldsOf(const QueuedListen& q) {
    return {q.artist, q.title, q.album, q.lengthSeconds};
}

std::wstring named(const QueuedListen& q) {
    return artistAndTitle(q.artist, q.title) + L" (listened at " + number(q.listenedAt) + L")";
}

void ListenBrainzTarget::listened(const QueuedListen& listen) {
    if (!submittable(fieldsOf(listen))) {
        logActivity(std::wstring(kHead) + L"listen not kept: no artist or no title");
        return;
    }
    // On the disk before it goes anywhere: a crash or a day offline loses nothing.
    size_t dropped = 0;
    if (appendListen(queuePath(), listen, dropped) != QueueStatus::done) {
        logActivity(std::wstring(kHead) + L"the listen queue could not be written: " +
                    named(listen) + L" is kept until Winamp quits");
        unsaved_.push_back(listen);
    } else if (waiting_ >= 0) {
        setWaiting(waiting_ + 1 - long(dropped));
    }
    if (dropped > 0)
        logActivity(std::wstring(kHead) + L"the listen queue is full: " + number(int64_t(dropped)) +
                    L" oldest dropped");
    fresh_ = true;
    backlogAt_ = 0;
}

// Listens the file could not take go there first once it can, a few a turn; true
// when none is left in memory.
bool ListenBrainzTarget::saveUnsaved() {
    size_t dropped = 0;
    for (size_t n = 0; n < kUnsavedPerTurn && !unsaved_.empty() && !quitRequested(); ++n) {
        if (appendListen(queuePath(), unsaved_.front(), dropped) != QueueStatus::done) break;
        unsaved_.erase(unsaved_.begin());
    }
    return unsaved_.empty();
}

// The listens in the file that wait (those the server has dealt with left out); false
// when the file could not be read.
bool ListenBrainzTarget::loadWaiting(QueueContents& queue, uint64_t now) {
    const QueueStatus read = loadListens(queuePath(), queue);
    if (read != QueueStatus::done) {
        if (read == QueueStatus::failed)
            logActivity(std::wstring(kHead) + L"the listen queue could not be read");
        backOff(now);
        return false;
    }
    if (waiting_ < 0 && queue.torn > 0)
        logActivity(std::wstring(kHead) + L"the listen queue's last line was cut off; skipped");
    if (waiting_ < 0 && queue.skipped > 0)
        logActivity(std::wstring(kHead) + L"the listen queue holds " +
                    number(int64_t(queue.skipped)) +
                    L" lines that are no listens; they are skipped, and left out when it is "
                    L"next rewritten");
    if (!taken_.empty()) leaveOut(queue.listens, taken_);
    setWaiting(long(queue.listens.size()));
    return true;
}

void ListenBrainzTarget::sendBacklog(const Settings& settings, uint64_t now) {
    if (!taken_.empty() && now >= removeAt_) removeTaken(now);
    const size_t unsaved = unsaved_.size();
    if (!saveUnsaved()) {
        // The file takes none of them: they go from memory, one by one.
        if (unsaved_.size() == unsaved)
            sendListens(settings, now, std::vector<QueuedListen>(1, unsaved_.front()), true, true);
        return;
    }
    QueueContents queue;
    if (!loadWaiting(queue, now) || queue.listens.empty()) return;
    // Oldest first, at most 100 a request; a refused batch's listens go one by one.
    size_t count = splitLeft_ > 0 ? 1 : 100;
    if (count > queue.listens.size()) count = queue.listens.size();
    std::vector<QueuedListen> batch(queue.listens.begin(), queue.listens.begin() + count);
    sendListens(settings, now, std::move(batch), fresh_ && queue.listens.size() == 1, false);
}

void ListenBrainzTarget::sendListens(const Settings& settings, uint64_t now,
                                     std::vector<QueuedListen> batch, bool single,
                                     bool fromMemory) {
    std::vector<Listen> listens;
    for (const QueuedListen& q : batch) listens.push_back(Listen{fieldsOf(q), q.listenedAt});
    fresh_ = false;
    if (exchange(settings, ListenBrainzCall::submitListens,
                 listensBody(single ? ListenType::single : ListenType::import, listens),
                 kTickExchange, L"listens not sent", now, true)) {
        logActivity(std::wstring(kHead) + (batch.size() == 1
                                               ? L"listen sent: " + named(batch[0])
                                               : number(int64_t(batch.size())) + L" listens sent"));
        refusedInRow_ = 0;
        backlogFailures_ = 0;
        if (splitLeft_ > 0) --splitLeft_;
        settle(batch, now, fromMemory);
        return;
    }
    // Only ListenBrainz's own refusal is about the listens; anything else (not reached,
    // a server error, another's page, a wait, a refused token) keeps all of them.
    if (lastStatus_ == 400 && lastServiceError_ && refusedInRow_ < kMostRefusedInRow) {
        refused(batch, now, fromMemory);
    } else if (lastStatus_ == 413 && batch.size() > 1) {
        // A front server's size limit below the service's own: one by one, none dropped.
        splitLeft_ = batch.size();
    } else if (lastStatus_ != 429 && lastStatus_ != 401) {
        backOff(now);
    }
}

// A batch the service refused goes again one by one; a listen refused alone is dropped,
// unless so many were in a row that the server, not the listens, is at fault.
void ListenBrainzTarget::refused(const std::vector<QueuedListen>& batch, uint64_t now,
                                 bool fromMemory) {
    if (batch.size() > 1) {
        splitLeft_ = batch.size();
        return;
    }
    logActivity(std::wstring(kHead) + L"listen refused and dropped: " + named(batch[0]) + L": " +
                lastError_);
    if (splitLeft_ > 0) --splitLeft_;
    settle(batch, now, fromMemory);
    if (++refusedInRow_ < kMostRefusedInRow) return;
    logActivity(std::wstring(kHead) + number(kMostRefusedInRow) +
                L" listens in a row refused: no more are dropped, the rest wait for one the "
                L"server takes");
    splitLeft_ = 0;
    backOff(now);
}

// Listens the server has dealt with leave the queue. When the file cannot be rewritten
// they are kept apart in memory, so they never go twice in this run.
void ListenBrainzTarget::settle(const std::vector<QueuedListen>& batch, uint64_t now,
                                bool fromMemory) {
    if (fromMemory) {
        unsaved_.erase(unsaved_.begin());
        return;
    }
    if (waiting_ >= 0)
        setWaiting(waiting_ > long(batch.size()) ? waiting_ - long(batch.size()) : 0);
    unsigned long error = 0;
    const QueueStatus removed = removeListens(queuePath(), batch, &error);
    if (removed == QueueStatus::done) return;
    const bool first = taken_.empty();
    taken_.insert(taken_.end(), batch.begin(), batch.end());
    if (first) {
        logActivity(std::wstring(kHead) + L"the listen queue could not be rewritten: " +
                    queueWhy(removed, error) +
                    L"; the listens sent stay in it until it can be, and are not sent again "
                    L"meanwhile");
        removeAt_ = now + retryDelayMs(removeFailures_ = 1);
    }
}

void ListenBrainzTarget::removeTaken(uint64_t now) {
    unsigned long error = 0;
    if (removeListens(queuePath(), taken_, &error) != QueueStatus::done) {
        removeAt_ = now + retryDelayMs(++removeFailures_);
        return;
    }
    logActivity(std::wstring(kHead) + L"the listen queue could be rewritten again: " +
                number(int64_t(taken_.size())) + L" listens sent left it");
    taken_.clear();
    removeFailures_ = 0;
}

}  // namespace

long listensWaiting() {
    const long known = gListensWaiting;
    if (known >= 0) return known;
    QueueContents queue;
    if (loadListens(queuePath(), queue) != QueueStatus::done) return -1;
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
    if (!outcome.ok() || cutShort(outcome)) return L"Not reached: " + serverWhy(outcome).brief;
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
