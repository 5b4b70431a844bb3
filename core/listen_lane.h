// The listens one target keeps, from its queue file to its server: on the disk before
// they go anywhere, sent oldest first in batches on idle ticks, and out of the file only
// once the server has dealt with them. Each target that keeps listens has a lane of its
// own (file, lock, bound, count, back-off, log lines); how a batch goes out and what
// the answer means is the target's. The rules are portable: the file and the log are
// behind LaneFile, so the native tests run a lane over a file in memory.
//
// Threads: `listened` (a listen reached) and `due` may be called on one thread (the
// update tick's) while `sendBacklog` runs a turn on another (the target's worker). The
// lane's state is under a short lock of its own, never held across the submit (the
// network), a call on the queue file (whose lock another Winamp may hold) or the claim
// of the turn, only across a log line; `sendBacklog` itself runs on one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/critical_section.h"
#include "core/listen_queue.h"

namespace nimbo {

// What became of a batch the target sent.
struct BatchOutcome {
    enum class Kind {
        taken,    // the server dealt with the oldest `leaving` of them: those leave the file
        refused,  // refused for the listens' own sake: a batch goes again one by one, and a
                  // listen refused alone is set aside (`why` says why) until the same
                  // server takes another, which is the evidence to drop it
        splitUp,  // too much at once for the server: one by one, none dropped
        failed,   // not reached, a server error, another's page: all stay, tried again
        held,     // the server asked to wait, or wants new credentials: all stay
    };
    Kind kind = Kind::failed;
    size_t leaving = 0;   // taken: how many of the oldest leave (the rest stay)
    uint64_t holdMs = 0;  // taken with some left, failed: the least wait before the next
    std::wstring why;     // refused: the server's words
    std::wstring server;  // who answered: a refusal weighs only against that server's take
};

// The words a lane's log lines use: "ListenBrainz: ", "listen", "listens", "the listen
// queue".
struct LaneWords {
    std::wstring head, one, many, queue;
};

// A lane's queue file and log. Each file call holds the file's short lock (as
// appendListen and its kin); the turn's claim is another, held from load to removal.
class LaneFile {
  public:
    virtual ~LaneFile() = default;
    virtual QueueStatus append(const QueuedListen& listen, size_t& dropped) = 0;
    virtual QueueStatus load(QueueContents& contents) = 0;
    // `why`: the reason a rewrite failed, for the log.
    virtual QueueStatus remove(const std::vector<QueuedListen>& gone, std::wstring& why) = 0;
    // The claim of one turn, taken without waiting: false while another Winamp's turn
    // holds it. Held until endTurn.
    virtual bool claimTurn() = 0;
    virtual void endTurn() = 0;
    virtual void log(const std::wstring& line) = 0;
    virtual bool quitting() const = 0;
};

class ListenLane {
  public:
    // Sends a batch (`single`: one listen reached just now) and tells what became of it;
    // `context` is the caller's.
    using Submit = BatchOutcome (*)(void* context, const std::vector<QueuedListen>& batch,
                                    bool single);

    ListenLane(LaneFile& file, LaneWords words, size_t mostPerBatch);

    // A listen reached: appended to the file before anything is sent.
    void listened(const QueuedListen& listen);
    // Whether there is work for an idle tick at `now`.
    bool due(uint64_t now) const;
    // One turn of that work: one request at most. Another Winamp's turn on the same file
    // makes this one wait for a later tick.
    void sendBacklog(uint64_t now, Submit submit, void* context);
    // The log's name for the target, when it follows a setting (a server's name).
    void rename(const std::wstring& head);
    // A request of the target got through: what waits goes at the next turn.
    void goAtOnce();
    // A fresh start: nothing known.
    void reset();

    // The listens waiting, for the options window (any thread but Winamp's): the lane's
    // count, or the file's when no turn has counted them yet; -1 when unknown.
    long waitingCount() const;

    static std::wstring named(const QueuedListen& q);

  private:
    void log(std::initializer_list<std::wstring_view> parts);
    bool saveUnsaved(uint64_t now, Submit submit, void* context);
    bool nextBatch(uint64_t now, std::vector<QueuedListen>& batch, bool& single);
    void loaded(QueueContents& queue);
    void answered(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome, uint64_t now,
                  std::vector<QueuedListen>& gone);
    void took(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome, uint64_t now,
              std::vector<QueuedListen>& gone);
    void refused(const std::vector<QueuedListen>& batch, const BatchOutcome& outcome, uint64_t now);
    void refusedInRow(uint64_t now);
    void settle(const std::vector<QueuedListen>& gone, uint64_t now);
    void removeTaken(uint64_t now);
    void backOff(uint64_t now, uint64_t atLeastMs = 0);
    void setWaiting(long count) {
        waiting_ = count;
        waitingShown_ = count;
    }

    LaneFile& file_;
    mutable CriticalSection lock_;  // everything below
    LaneWords words_;
    size_t mostPerBatch_;
    std::atomic<long> waitingShown_{-1};
    long waiting_ = -1;                  // listens in the file; -1: not read yet
    bool fresh_ = false;                 // the one waiting was reached just now
    size_t splitLeft_ = 0;               // listens of a refused batch still to go one by one
    int failures_ = 0;                   // tries in a row that did not get through
    uint64_t backlogAt_ = 0;             // no listens go before this
    std::vector<QueuedListen> unsaved_;  // listens the file could not take: sent from memory
    // Listens the server has dealt with that the file could not lose yet: left out of
    // every load, and taken out of the file again after a back-off.
    std::vector<QueuedListen> taken_;
    int removeFailures_ = 0;
    uint64_t removeAt_ = 0;
    // Refused alone by `asideServer_`, each with the server's words: left out of the
    // loads of this run only, so a restart sends them again and never drops one on a
    // refusal alone.
    std::vector<QueuedListen> aside_;
    std::vector<std::wstring> asideWhy_;
    std::wstring asideServer_;
    bool asideSaid_ = false;  // the line that every one was refused is in the log
};

// Win32 only, below: the queue file beside nimbo.log (listen_queue_win.cpp's calls) and
// the activity log.
class QueueFileLane final : public LaneFile {
  public:
    explicit QueueFileLane(std::wstring fileName) : fileName_(std::move(fileName)) {}
    QueueStatus append(const QueuedListen& listen, size_t& dropped) override;
    QueueStatus load(QueueContents& contents) override;
    QueueStatus remove(const std::vector<QueuedListen>& gone, std::wstring& why) override;
    bool claimTurn() override;
    void endTurn() override;
    void log(const std::wstring& line) override;
    bool quitting() const override;

  private:
    const std::wstring fileName_;
    QueueTurn turn_;
};

}  // namespace nimbo
