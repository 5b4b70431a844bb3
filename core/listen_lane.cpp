#include "core/listen_lane.h"

#include <algorithm>
#include <utility>

#include "common/text.h"
#include "core/publish_schedule.h"

namespace nimbo {

namespace {

// At the queue's bound every append rewrites the whole file: listens held in memory go
// to it a few a turn.
constexpr size_t kUnsavedPerTurn = 10;
// Listens refused alone in a row, none taken, after which the lane backs off.
constexpr size_t kMostRefusedInRow = 3;
// Another Winamp's turn on the same file: this one waits this long, a few ticks.
constexpr uint64_t kOtherTurnWaitMs = 2000;

// A listen as a rewrite failure keeps it apart: its time and its line.
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
    // A batch comes oldest first, so an insertion sort is about one pass, and far less
    // code in the DLL than the library's sort.
    for (size_t i = 1; i < prints.size(); ++i)
        for (size_t j = i; j > 0 && prints[j] < prints[j - 1]; --j)
            std::swap(prints[j], prints[j - 1]);
    std::vector<char> used(prints.size());
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

// Holds the turn's claim for a scope.
class TurnClaim {
  public:
    explicit TurnClaim(LaneFile& file) : file_(file), held_(file.claimTurn()) {}
    ~TurnClaim() {
        if (held_) file_.endTurn();
    }
    TurnClaim(const TurnClaim&) = delete;
    TurnClaim& operator=(const TurnClaim&) = delete;
    bool held() const { return held_; }

  private:
    LaneFile& file_;
    bool held_;
};

}  // namespace

ListenLane::ListenLane(LaneFile& file, LaneWords words, size_t mostPerBatch)
    : file_(file), words_(std::move(words)), mostPerBatch_(mostPerBatch) {}

void ListenLane::log(std::initializer_list<std::wstring_view> parts) {
    file_.log(joined(parts));
}

void ListenLane::rename(const std::wstring& head) {
    Locked hold(lock_);
    words_.head = head;
}

void ListenLane::goAtOnce() {
    Locked hold(lock_);
    backlogAt_ = 0;
}

void ListenLane::reset() {
    Locked hold(lock_);
    setWaiting(-1);
    fresh_ = false;
    splitLeft_ = 0;
    failures_ = removeFailures_ = 0;
    backlogAt_ = removeAt_ = 0;
    unsaved_.clear();
    taken_.clear();
    aside_.clear();
    asideWhy_.clear();
    asideSaid_ = false;
}

std::wstring ListenLane::named(const QueuedListen& q) {
    return joined({trimBlanks(q.artist), L" - ", trimBlanks(q.title), L" (listened at ",
                   decimalText(q.listenedAt), L")"});
}

bool ListenLane::due(uint64_t now) const {
    Locked hold(lock_);
    const bool work = waiting_ != 0 || !unsaved_.empty() || (!taken_.empty() && now >= removeAt_);
    return work && now >= backlogAt_;
}

long ListenLane::waitingCount() const {
    const long known = waitingShown_;
    if (known >= 0) return known;
    QueueContents queue;
    if (file_.load(queue) != QueueStatus::done) return -1;
    return long(queue.listens.size());
}

void ListenLane::backOff(uint64_t now, uint64_t atLeastMs) {
    const uint64_t wait = retryDelayMs(++failures_);
    backlogAt_ = now + (wait > atLeastMs ? wait : atLeastMs);
}

void ListenLane::listened(const QueuedListen& listen) {
    // On the disk before it goes anywhere: a crash or a day offline loses nothing.
    size_t dropped = 0;
    const QueueStatus appended = file_.append(listen, dropped);
    Locked hold(lock_);
    if (appended != QueueStatus::done) {
        log({words_.head, words_.queue, L" could not be written: ", named(listen),
             L" is kept until Winamp quits"});
        unsaved_.push_back(listen);
    } else if (waiting_ >= 0) {
        setWaiting(waiting_ + 1 - long(dropped));
    }
    if (dropped > 0)
        log({words_.head, words_.queue, L" is full: ", decimalText(int64_t(dropped)),
             L" oldest dropped"});
    fresh_ = true;
    backlogAt_ = 0;
}

// Listens the file could not take go there first once it can, a few a turn; when it
// takes none, the oldest goes from memory. True when none is left in memory.
bool ListenLane::saveUnsaved(uint64_t now, Submit submit, void* context) {
    size_t saved = 0, dropped = 0;
    for (; saved < kUnsavedPerTurn && !file_.quitting(); ++saved) {
        QueuedListen next;
        {
            Locked hold(lock_);
            if (unsaved_.empty()) return true;
            next = unsaved_.front();
        }
        if (file_.append(next, dropped) != QueueStatus::done) break;
        Locked hold(lock_);
        unsaved_.erase(unsaved_.begin());
    }
    std::vector<QueuedListen> one;
    {
        Locked hold(lock_);
        if (unsaved_.empty()) return true;
        if (saved > 0) return false;
        one.push_back(unsaved_.front());
        fresh_ = false;
    }
    const BatchOutcome outcome = submit(context, one, true);
    Locked hold(lock_);
    if (outcome.kind == BatchOutcome::Kind::taken) {
        log({words_.head, words_.one, L" sent: ", named(one[0])});
        failures_ = 0;
        unsaved_.erase(unsaved_.begin());
    } else if (outcome.kind != BatchOutcome::Kind::held) {
        // Nothing is dropped from memory: a refusal there weighs like a failure.
        backOff(now, outcome.holdMs);
    }
    return false;
}

void ListenLane::sendBacklog(uint64_t now, Submit submit, void* context) {
    // Load, send and removal under one claim: two Winamps on one folder never send the
    // same batch.
    const TurnClaim claim(file_);
    if (!claim.held()) {
        Locked hold(lock_);
        backlogAt_ = now + kOtherTurnWaitMs;
        return;
    }
    removeTaken(now);
    if (!saveUnsaved(now, submit, context)) return;
    std::vector<QueuedListen> batch;
    bool single = false;
    if (!nextBatch(now, batch, single)) return;
    const BatchOutcome outcome = submit(context, batch, single);
    std::vector<QueuedListen> gone;
    {
        Locked hold(lock_);
        answered(batch, outcome, now, gone);
    }
    if (!gone.empty()) settle(gone, now);
}

// The oldest listens that wait, or one while a refused batch goes one by one; false
// when none goes this turn.
bool ListenLane::nextBatch(uint64_t now, std::vector<QueuedListen>& batch, bool& single) {
    QueueContents queue;
    const QueueStatus read = file_.load(queue);
    Locked hold(lock_);
    if (read != QueueStatus::done) {
        if (read == QueueStatus::failed) log({words_.head, words_.queue, L" could not be read"});
        backOff(now);
        return false;
    }
    loaded(queue);
    std::vector<QueuedListen>& open = queue.listens;
    if (open.empty() && !aside_.empty()) {
        // Every one waiting was refused alone and none taken: none is dropped, and all
        // go again after the back-off.
        refusedInRow(now);
        aside_.clear();
        asideWhy_.clear();
        splitLeft_ = 0;
        return false;
    }
    if (open.empty()) return false;
    size_t count = splitLeft_ > 0 ? 1 : mostPerBatch_;
    if (count > open.size()) count = open.size();
    batch.insert(batch.end(), open.begin(), open.begin() + long(count));
    single = fresh_ && open.size() == 1;
    fresh_ = false;
    return true;
}

// A load's listens, less those the server has dealt with and those set aside; the
// count is of every one in the file that waits.
void ListenLane::loaded(QueueContents& queue) {
    if (waiting_ < 0 && queue.torn > 0)
        log({words_.head, words_.queue, L"'s last line was cut off; skipped"});
    if (waiting_ < 0 && queue.skipped > 0)
        log({words_.head, words_.queue, L" holds ", decimalText(int64_t(queue.skipped)),
             L" lines that are no ", words_.many, L"; they are skipped and kept as they are"});
    if (!taken_.empty()) leaveOut(queue.listens, taken_);
    setWaiting(long(queue.listens.size()));
    if (!aside_.empty()) leaveOut(queue.listens, aside_);
}

void ListenLane::answered(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome,
                          uint64_t now, std::vector<QueuedListen>& gone) {
    using Kind = BatchOutcome::Kind;
    // Another server's refusals say nothing to this one: those listens go again.
    if (!aside_.empty() && outcome.server != asideServer_) {
        aside_.clear();
        asideWhy_.clear();
    }
    if (outcome.kind == Kind::taken) {
        took(batch, outcome, now, gone);
    } else if (outcome.kind == Kind::refused) {
        refused(batch, outcome, now);
    } else if (outcome.kind == Kind::splitUp && batch.size() > 1) {
        splitLeft_ = batch.size();
    } else if (outcome.kind != Kind::held) {
        // Not reached, a server error, another's page, a wait: all stay.
        backOff(now, outcome.holdMs);
    }
}

// The oldest `leaving` leave; a take is the evidence that what this server refused
// alone was the listens' fault, and those leave too.
void ListenLane::took(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome,
                      uint64_t now, std::vector<QueuedListen>& gone) {
    const size_t leaving = outcome.leaving < batch.size() ? outcome.leaving : batch.size();
    gone.insert(gone.end(), batch.begin(), batch.begin() + long(leaving));
    if (gone.size() == 1)
        log({words_.head, words_.one, L" sent: ", named(gone[0])});
    else
        log({words_.head, decimalText(int64_t(gone.size())), L" ", words_.many, L" sent"});
    for (size_t i = 0; i < aside_.size(); ++i)
        log({words_.head, words_.one, L" refused and dropped: ", named(aside_[i]), L": ",
             asideWhy_[i]});
    gone.insert(gone.end(), aside_.begin(), aside_.end());
    aside_.clear();
    asideWhy_.clear();
    asideSaid_ = false;
    failures_ = 0;
    if (splitLeft_ > 0) --splitLeft_;
    if (leaving < batch.size()) backlogAt_ = now + outcome.holdMs;
}

// A batch the server refused goes again one by one; a listen refused alone is set
// aside, and the next goes.
void ListenLane::refused(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome,
                         uint64_t now) {
    if (batch.size() > 1) {
        splitLeft_ = batch.size();
        return;
    }
    if (batch.empty()) return backOff(now);
    aside_.push_back(batch[0]);
    asideWhy_.push_back(outcome.why);
    asideServer_ = outcome.server;
    if (splitLeft_ > 0) --splitLeft_;
    // A few refused in a row, none taken: the server may be at fault, so the rest wait
    // (what is set aside stays so) rather than go one a second.
    if (aside_.size() % kMostRefusedInRow == 0) refusedInRow(now);
}

// Refused alone and none taken: said once until the server takes one, and backed off.
void ListenLane::refusedInRow(uint64_t now) {
    if (!asideSaid_)
        log({words_.head, decimalText(int64_t(aside_.size())), L" ",
             aside_.size() == 1 ? words_.one : words_.many,
             L" refused one by one and none taken: none is dropped while the server takes "
             L"none, and they are tried again later"});
    asideSaid_ = true;
    backOff(now);
}

// Listens the server has dealt with leave the queue. When the file cannot be rewritten
// they are kept apart in memory, so they never go twice in this run.
void ListenLane::settle(const std::vector<QueuedListen>& gone, uint64_t now) {
    std::wstring why;
    const QueueStatus removed = file_.remove(gone, why);
    Locked hold(lock_);
    if (waiting_ >= 0) setWaiting(waiting_ > long(gone.size()) ? waiting_ - long(gone.size()) : 0);
    if (removed == QueueStatus::done) return;
    const bool first = taken_.empty();
    taken_.insert(taken_.end(), gone.begin(), gone.end());
    if (!first) return;
    log({words_.head, words_.queue, L" could not be rewritten: ", why, L"; the ", words_.many,
         L" sent stay in it until it can be, and are not sent again meanwhile"});
    removeAt_ = now + retryDelayMs(removeFailures_ = 1);
}

void ListenLane::removeTaken(uint64_t now) {
    std::vector<QueuedListen> taken;
    {
        Locked hold(lock_);
        if (taken_.empty() || now < removeAt_) return;
        taken = taken_;
    }
    std::wstring why;
    const QueueStatus removed = file_.remove(taken, why);
    Locked hold(lock_);
    if (removed != QueueStatus::done) {
        removeAt_ = now + retryDelayMs(++removeFailures_);
        return;
    }
    log({words_.head, words_.queue, L" could be rewritten again: ",
         decimalText(int64_t(taken_.size())), L" ", words_.many, L" sent left it"});
    taken_.clear();
    removeFailures_ = 0;
}

}  // namespace nimbo
