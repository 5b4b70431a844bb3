// The places what plays is published to. The update cycle decides what should show
// (a status, or a clear and why) and when a change goes out; each target decides how
// it gets there, and keeps its own schedule (tries again, waits), log lines and state,
// so one target's failure or wait never holds another back. The cycle names none of
// them: it serves the table `publishTargets()` (plugin/targets.cpp).
//
// Threads: send, sendBacklog and switchedOff run on the target's own worker
// (plugin/target_worker.h), one at a time; a message box there waits for that target
// alone. The tick asks ready, takesFields, backlogDue, reset and the schedule only
// while the worker has no job; countsListens and listened at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/listen_queue.h"
#include "core/publish_schedule.h"
#include "core/settings.h"
#include "net/http_client.h"
#include "probe/composer.h"

namespace nimbo {

// What the current track and state ask every target to show.
struct Wanted {
    bool clear = false;
    bool playing = false;    // Winamp plays (not paused, not stopped)
    std::wstring reason;     // why it is cleared: "private track", "paused", "stopped"
    std::wstring status;     // else the status text from the user's mask
    TrackFields fields;      // and its fields, when a ready target takes them
    int lengthSeconds = -1;  // with the fields; -1 when unknown
};

class Target {
  public:
    virtual ~Target() = default;

    PublishSchedule& schedule() { return schedule_; }

    // Switched on and holding what it needs to send; nothing goes out otherwise.
    virtual bool ready(const Settings& settings) const = 0;
    // Whether it takes the track's fields (album and length cost a read of their own).
    virtual bool takesFields() const = 0;
    // Sends what `wanted` asks for, then tells its schedule how that went. False when
    // nothing went out (nothing to clear, nothing it could send).
    virtual bool send(const Wanted& wanted, const Settings& settings, uint64_t now) = 0;
    // Publishing was switched off: what it shows is cleared.
    virtual void switchedOff(const Settings& settings) = 0;
    // Whether quit has a clear to send.
    virtual bool clearsAtQuit(const Settings& settings) const = 0;
    // quit's clear, within `limits`; may run on a thread of its own beside the others'.
    virtual void clearAtQuit(const Settings& settings, const ExchangeLimits& limits) = 0;
    // A fresh start (init): nothing known about what it shows.
    virtual void reset() = 0;

    // Listens (plays that count), for a target that keeps them. countsListens runs
    // under the settings lock, so it only looks. The cycle counts plays once for all
    // such targets and hands each the same listen, composed once, when one is reached
    // (a private track never). Both run on the tick, even while the worker sends: they
    // read only the settings and the lane (which keeps its turns and this apart).
    virtual bool countsListens(const Settings&) const { return false; }
    virtual void listened(const QueuedListen&) {}
    // Work kept beside what plays now (listens that wait), asked only of a target that
    // counts listens: whether it goes now (under the settings lock, on the tick), and
    // the going (on the worker), after an idle tick.
    virtual bool backlogDue(const Settings&, uint64_t) const { return false; }
    virtual void sendBacklog(const Settings&, uint64_t) {}

  protected:
    // "try 2, " before the lines of a try again, so the log shows the run of tries.
    std::wstring tryPrefix() const;

    PublishSchedule schedule_;
};

// A listening service's pace: at most one request a second, as each asks of a client
// whatever the request carries, or later when the server asked to wait.
class RequestSpacing {
  public:
    // Whether a request may go at `now`: a tick this close to its turn counts as at it.
    bool dueBy(uint64_t now) const { return now + kSlackMs >= next_; }
    // Whether `now` falls within a wait longer than the spacing (the server's own).
    bool serverWaits(uint64_t now) const { return !dueBy(now) && next_ - now > kSpacingMs; }
    // Before a request: the rest of the second is waited out here, never a longer wait.
    // With `endsAtQuit` quit ends the wait; without, it holds even then (quit's clear).
    void waitTurn(bool endsAtQuit) const;
    // The same before a request with `limits`; a wait that holds at quit comes out of
    // their total, so quit's clear keeps its bound. Returns the limits left.
    ExchangeLimits waitTurn(const ExchangeLimits& limits) const;
    // A request started at `at` (the clock's reading when it did).
    void started(uint64_t at) { next_ = at + kSpacingMs; }
    void waitUntil(uint64_t at) { next_ = at; }
    uint64_t next() const { return next_; }
    void reset() { next_ = 0; }

  private:
    static constexpr uint64_t kSpacingMs = 1000;
    static constexpr uint64_t kSlackMs = 250;
    uint64_t next_ = 0;  // no request before this
};

// A refusal the options window asks about from its own thread while a worker may set
// it: a checksum of the credentials the server refused (0: none).
class RefusalMark {
  public:
    void set(const std::wstring& credentials) { mark_ = markOf(credentials); }
    void clear() { mark_ = 0; }
    bool matches(const std::wstring& credentials) const {
        const uint32_t mark = mark_;
        return mark != 0 && mark == markOf(credentials);
    }

  private:
    static uint32_t markOf(const std::wstring& text);
    std::atomic<uint32_t> mark_{0};
};

class ListenLane;
// A removed account's queue: its listens out of the file `fileName`, the file deleted
// when nothing else is in it, the lane starting afresh.
void dropQueueFile(const std::wstring& fileName, ListenLane& lane);

// The table of targets, in the order a tick serves them.
Target* const* publishTargets(size_t& count);

// The update cycle's clock (milliseconds, GetTickCount carried past its wrap).
uint64_t cycleClockMs();

}  // namespace nimbo
