// The listens one target keeps, from its queue file to its server: on the disk before
// they go anywhere, sent oldest first in batches on idle ticks, and out of the file only
// once the server has dealt with them. Each target that keeps listens has a lane of its
// own (file, lock, bound, count, back-off, log lines); how a batch goes out and what
// the answer means is the target's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/listen_queue.h"

namespace nimbo {

// What became of a batch the target sent.
struct BatchOutcome {
    enum class Kind {
        taken,    // the server dealt with the oldest `leaving` of them: those leave the file
        refused,  // refused for the listens' own sake: a batch goes again one by one, and a
                  // listen refused alone is dropped (`why` says why)
        splitUp,  // too much at once for the server: one by one, none dropped
        failed,   // not reached, a server error, another's page: all stay, tried again
        held,     // the server asked to wait, or wants new credentials: all stay
    };
    Kind kind = Kind::failed;
    size_t leaving = 0;   // taken: how many of the oldest leave (the rest stay)
    uint64_t holdMs = 0;  // taken with some left, failed: the least wait before the next
    std::wstring why;     // refused: the server's words
};

// The words a lane's log lines use: "ListenBrainz: ", "listen", "listens", "the
// listen queue".
struct LaneWords {
    std::wstring head, one, many, queue;
};

class ListenLane {
  public:
    // Sends a batch (`single`: one listen reached just now) and tells what became of it;
    // `context` is the caller's.
    using Submit = BatchOutcome (*)(void* context, const std::vector<QueuedListen>& batch,
                                    bool single);

    ListenLane(const wchar_t* fileName, LaneWords words, size_t mostPerBatch);

    // A listen reached: appended to the file before anything is sent.
    void listened(const QueuedListen& listen);
    // Whether there is work for an idle tick at `now`.
    bool due(uint64_t now) const;
    // One turn of that work: one request at most.
    void sendBacklog(uint64_t now, Submit submit, void* context);
    // The log's name for the target, when it follows a setting (a server's name).
    void rename(const std::wstring& head) { words_.head = head; }
    // A request of the target got through: what waits goes at the next turn.
    void goAtOnce() { backlogAt_ = 0; }
    // A fresh start: nothing known.
    void reset();

    // The listens waiting, for the options window (any thread); -1: not read yet.
    long waitingNow() const { return waitingShown_; }
    // The same, reading the file when no turn has counted them yet.
    long waitingCount() const;

    std::wstring named(const QueuedListen& q) const;

  private:
    std::wstring path() const;
    bool saveUnsaved();
    bool loadWaiting(QueueContents& queue, uint64_t now);
    void answered(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome, uint64_t now,
                  bool fromMemory);
    void refused(const std::vector<QueuedListen>& batch, const std::wstring& why, uint64_t now,
                 bool fromMemory);
    void settle(const std::vector<QueuedListen>& batch, uint64_t now, bool fromMemory);
    void removeTaken(uint64_t now);
    void backOff(uint64_t now, uint64_t atLeastMs = 0);
    void setWaiting(long count) {
        waiting_ = count;
        waitingShown_ = count;
    }

    const wchar_t* fileName_;
    LaneWords words_;
    size_t mostPerBatch_;
    std::atomic<long> waitingShown_{-1};
    long waiting_ = -1;                  // listens in the file; -1: not read yet
    bool fresh_ = false;                 // the one waiting was reached just now
    size_t splitLeft_ = 0;               // listens of a refused batch still to go one by one
    int refusedInRow_ = 0;               // listens refused with none accepted since
    int failures_ = 0;                   // tries in a row that did not get through
    uint64_t backlogAt_ = 0;             // no listens go before this
    std::vector<QueuedListen> unsaved_;  // listens the file could not take: sent from memory
    // Listens the server has dealt with that the file could not lose yet: left out of
    // every load, and taken out of the file again after a back-off.
    std::vector<QueuedListen> taken_;
    int removeFailures_ = 0;
    uint64_t removeAt_ = 0;
};

}  // namespace nimbo
