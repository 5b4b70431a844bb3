#include "plugin/listen_lane.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/publish_schedule.h"
#include "core/state.h"

namespace nimbo {

namespace {

// At the queue's bound every append rewrites the whole file: listens held in memory go
// to it a few a turn.
constexpr size_t kUnsavedPerTurn = 10;
// Refused listens in a row after which a refusal is no longer taken for the listen's
// fault: the rest stay.
constexpr int kMostRefusedInRow = 3;

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
    const std::wstring code = L"Windows error " + decimalText(int64_t(error));
    return units > 0 ? joined({code, L", ", std::wstring_view(text, units)}) : code;
}

}  // namespace

ListenLane::ListenLane(const wchar_t* fileName, LaneWords words, size_t mostPerBatch)
    : fileName_(fileName), words_(std::move(words)), mostPerBatch_(mostPerBatch) {}

std::wstring ListenLane::path() const {
    return listenQueuePath(fileName_);
}

void ListenLane::reset() {
    setWaiting(-1);
    fresh_ = false;
    splitLeft_ = 0;
    refusedInRow_ = failures_ = removeFailures_ = 0;
    backlogAt_ = removeAt_ = 0;
    unsaved_.clear();
    taken_.clear();
}

std::wstring ListenLane::named(const QueuedListen& q) const {
    return joined({trimBlanks(q.artist), L" - ", trimBlanks(q.title), L" (listened at ",
                   decimalText(q.listenedAt), L")"});
}

bool ListenLane::due(uint64_t now) const {
    const bool work = waiting_ != 0 || !unsaved_.empty() || (!taken_.empty() && now >= removeAt_);
    return work && now >= backlogAt_;
}

long ListenLane::waitingCount() const {
    const long known = waitingShown_;
    if (known >= 0) return known;
    QueueContents queue;
    if (loadListens(path(), queue) != QueueStatus::done) return -1;
    return long(queue.listens.size());
}

void ListenLane::backOff(uint64_t now, uint64_t atLeastMs) {
    const uint64_t wait = retryDelayMs(++failures_);
    backlogAt_ = now + (wait > atLeastMs ? wait : atLeastMs);
}

void ListenLane::listened(const QueuedListen& listen) {
    // On the disk before it goes anywhere: a crash or a day offline loses nothing.
    size_t dropped = 0;
    if (appendListen(path(), listen, dropped) != QueueStatus::done) {
        logActivity(joined({words_.head, words_.queue, L" could not be written: ", named(listen),
                            L" is kept until Winamp quits"}));
        unsaved_.push_back(listen);
    } else if (waiting_ >= 0) {
        setWaiting(waiting_ + 1 - long(dropped));
    }
    if (dropped > 0)
        logActivity(joined({words_.head, words_.queue, L" is full: ", decimalText(int64_t(dropped)),
                            L" oldest dropped"}));
    fresh_ = true;
    backlogAt_ = 0;
}

// Listens the file could not take go there first once it can, a few a turn; true
// when none is left in memory.
bool ListenLane::saveUnsaved() {
    size_t dropped = 0;
    for (size_t n = 0; n < kUnsavedPerTurn && !unsaved_.empty() && !quitRequested(); ++n) {
        if (appendListen(path(), unsaved_.front(), dropped) != QueueStatus::done) break;
        unsaved_.erase(unsaved_.begin());
    }
    return unsaved_.empty();
}

// The listens in the file that wait (those the server has dealt with left out); false
// when the file could not be read.
bool ListenLane::loadWaiting(QueueContents& queue, uint64_t now) {
    const QueueStatus read = loadListens(path(), queue);
    if (read != QueueStatus::done) {
        if (read == QueueStatus::failed)
            logActivity(joined({words_.head, words_.queue, L" could not be read"}));
        backOff(now);
        return false;
    }
    if (waiting_ < 0 && queue.torn > 0)
        logActivity(joined({words_.head, words_.queue, L"'s last line was cut off; skipped"}));
    if (waiting_ < 0 && queue.skipped > 0)
        logActivity(
            joined({words_.head, words_.queue, L" holds ", decimalText(int64_t(queue.skipped)),
                    L" lines that are no ", words_.many,
                    L"; they are skipped, and left out when it is next rewritten"}));
    if (!taken_.empty()) leaveOut(queue.listens, taken_);
    setWaiting(long(queue.listens.size()));
    return true;
}

void ListenLane::sendBacklog(uint64_t now, Submit submit, void* context) {
    if (!taken_.empty() && now >= removeAt_) removeTaken(now);
    const size_t unsaved = unsaved_.size();
    if (!saveUnsaved()) {
        // The file takes none of them: they go from memory, one by one.
        if (unsaved_.size() == unsaved) {
            const std::vector<QueuedListen> one(1, unsaved_.front());
            fresh_ = false;
            answered(one, submit(context, one, true), now, true);
        }
        return;
    }
    QueueContents queue;
    if (!loadWaiting(queue, now) || queue.listens.empty()) return;
    // Oldest first; a refused batch's listens go one by one.
    size_t count = splitLeft_ > 0 ? 1 : mostPerBatch_;
    if (count > queue.listens.size()) count = queue.listens.size();
    const std::vector<QueuedListen> batch(queue.listens.begin(), queue.listens.begin() + count);
    const bool single = fresh_ && queue.listens.size() == 1;
    fresh_ = false;
    answered(batch, submit(context, batch, single), now, false);
}

void ListenLane::answered(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome,
                          uint64_t now, bool fromMemory) {
    using Kind = BatchOutcome::Kind;
    if (outcome.kind == Kind::taken) {
        const size_t leaving = outcome.leaving < batch.size() ? outcome.leaving : batch.size();
        const std::vector<QueuedListen> gone(batch.begin(), batch.begin() + leaving);
        if (gone.size() == 1)
            logActivity(joined({words_.head, words_.one, L" sent: ", named(gone[0])}));
        else
            logActivity(joined(
                {words_.head, decimalText(int64_t(gone.size())), L" ", words_.many, L" sent"}));
        refusedInRow_ = 0;
        failures_ = 0;
        if (splitLeft_ > 0) --splitLeft_;
        if (!gone.empty()) settle(gone, now, fromMemory);
        if (leaving < batch.size()) backlogAt_ = now + outcome.holdMs;
        return;
    }
    // Only the server's own refusal is about the listens; anything else (not reached, a
    // server error, another's page, a wait, refused credentials) keeps all of them.
    if (outcome.kind == Kind::refused && refusedInRow_ < kMostRefusedInRow) {
        refused(batch, outcome.why, now, fromMemory);
    } else if (outcome.kind == Kind::splitUp && batch.size() > 1) {
        splitLeft_ = batch.size();
    } else if (outcome.kind != Kind::held) {
        backOff(now, outcome.holdMs);
    }
}

// A batch the server refused goes again one by one; a listen refused alone is dropped,
// unless so many were in a row that the server, not the listens, is at fault.
void ListenLane::refused(const std::vector<QueuedListen>& batch, const std::wstring& why,
                         uint64_t now, bool fromMemory) {
    if (batch.size() > 1) {
        splitLeft_ = batch.size();
        return;
    }
    logActivity(
        joined({words_.head, words_.one, L" refused and dropped: ", named(batch[0]), L": ", why}));
    if (splitLeft_ > 0) --splitLeft_;
    settle(batch, now, fromMemory);
    if (++refusedInRow_ < kMostRefusedInRow) return;
    logActivity(joined({words_.head, decimalText(kMostRefusedInRow), L" ", words_.many,
                        L" in a row refused: no more are dropped, the rest wait for one the "
                        L"server takes"}));
    splitLeft_ = 0;
    backOff(now);
}

// Listens the server has dealt with leave the queue. When the file cannot be rewritten
// they are kept apart in memory, so they never go twice in this run.
void ListenLane::settle(const std::vector<QueuedListen>& batch, uint64_t now, bool fromMemory) {
    if (fromMemory) {
        unsaved_.erase(unsaved_.begin());
        return;
    }
    if (waiting_ >= 0)
        setWaiting(waiting_ > long(batch.size()) ? waiting_ - long(batch.size()) : 0);
    unsigned long error = 0;
    const QueueStatus removed = removeListens(path(), batch, &error);
    if (removed == QueueStatus::done) return;
    const bool first = taken_.empty();
    taken_.insert(taken_.end(), batch.begin(), batch.end());
    if (!first) return;
    logActivity(joined({words_.head, words_.queue, L" could not be rewritten: ",
                        queueWhy(removed, error), L"; the ", words_.many,
                        L" sent stay in it until it can be, and are not sent again meanwhile"}));
    removeAt_ = now + retryDelayMs(removeFailures_ = 1);
}

void ListenLane::removeTaken(uint64_t now) {
    unsigned long error = 0;
    if (removeListens(path(), taken_, &error) != QueueStatus::done) {
        removeAt_ = now + retryDelayMs(++removeFailures_);
        return;
    }
    logActivity(joined({words_.head, words_.queue, L" could be rewritten again: ",
                        decimalText(int64_t(taken_.size())), L" ", words_.many, L" sent left it"}));
    taken_.clear();
    removeFailures_ = 0;
}

}  // namespace nimbo
