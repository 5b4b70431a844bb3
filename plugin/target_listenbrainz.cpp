#include "plugin/target_listenbrainz.h"

#include "common/platform.h"
#include "common/text.h"
#include "core/activity_log.h"
#include "core/state.h"
#include "net/listenbrainz.h"
#include "net/listenbrainz_body.h"
#include "plugin/messages.h"

namespace nimbo {

const wchar_t kListenBrainzTokenRejected[] = L"Nimbo : ListenBrainz did not accept the user token";

namespace {

// The service asks for at most one request a second from a client.
constexpr uint64_t kRequestSpacingMs = 1000;

const wchar_t kHead[] = L"ListenBrainz: ";

// The failure words name the server, not the site.
Why serverWhy(const Outcome& outcome) {
    Why why = whyFailed(outcome);
    why.words = replaceText(why.words, L"the site", L"the server", true);
    why.brief = replaceText(why.brief, L"the site", L"the server", true);
    return why;
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
        notBefore_ = serverWaitUntil_ = 0;
        rejectedToken_.clear();
    }

  private:
    // As the site's: unknown at start, when a playing-now of an earlier run may stand.
    enum class Shown { unknown, playing, cleared };

    // One request; false (after logging and telling the schedule) when it failed.
    bool exchange(const Settings& settings, ListenBrainzCall call, const std::string& body,
                  const ExchangeLimits& limits, const std::wstring& failedHead, uint64_t now);
    AttemptResult clear(const Wanted& wanted, const Settings& settings, uint64_t now,
                        const ExchangeLimits& limits);

    Shown shown_ = Shown::unknown;
    uint64_t notBefore_ = 0;        // no request before this (spacing, or the server's wait)
    uint64_t serverWaitUntil_ = 0;  // the server's wait alone
    std::wstring rejectedToken_;    // the token the server refused: silent until it changes
    AttemptResult lastResult_ = AttemptResult::done;
};

bool ListenBrainzTarget::exchange(const Settings& settings, ListenBrainzCall call,
                                  const std::string& body, const ExchangeLimits& limits,
                                  const std::wstring& failedHead, uint64_t now) {
    // A clear that cannot wait for the next tick (switched off, quit) waits out the
    // second between two requests here; the server's own wait it never sends into.
    const uint64_t started = cycleClockMs();
    if (started < notBefore_ && notBefore_ - started <= kRequestSpacingMs)
        Sleep(DWORD(notBefore_ - started));
    HttpReply reply;
    const Outcome outcome = configuredApiExchange(
        listenBrainzRequest(settings.ListenBrainzServer, settings.ListenBrainzToken, call, body),
        reply, limits);
    notBefore_ = cycleClockMs() + kRequestSpacingMs;
    const ListenBrainzReply answer = readListenBrainzReply(reply);
    // A clear that finds nothing of ours to clear has done its job.
    const bool fine =
        answer.status == 200 || (call == ListenBrainzCall::clearPlayingNow && answer.status == 404);
    if (outcome.ok() && !cutShort(outcome) && fine) {
        lastResult_ = AttemptResult::done;
        return true;
    }

    // Not reached, or a reply cut short, or a server error: tried again on the schedule.
    // A refused token or certificate needs the user; a refused listen is never resent.
    std::wstring words, brief;
    lastResult_ = AttemptResult::unreachable;
    const std::wstring status = widen(std::to_string(answer.status));
    const std::wstring said = answer.json.error ? L": " + *answer.json.error : std::wstring();
    if (!outcome.ok() || cutShort(outcome)) {
        const Why why = serverWhy(outcome);
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
    logActivity(kHead + tryPrefix() + failedHead + L": " + words, failedHead, brief,
                ResultLine::listenBrainz);
    schedule_.attempted(now, lastResult_);
    if (answer.status == 429) {
        notBefore_ = serverWaitUntil_ = cycleClockMs() + uint64_t(answer.waitSeconds) * 1000;
        schedule_.waitUntil(notBefore_);
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
    const std::wstring what = trimBlanks(fields.artist) + L" - " + trimBlanks(fields.title);
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

}  // namespace

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
