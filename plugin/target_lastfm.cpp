#include "plugin/target_lastfm.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "common/md5.h"
#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/accounts.h"
#include "core/activity_log.h"
#include "core/listen_lane.h"
#include "core/settings_merge.h"
#include "core/state.h"
#include "net/http_client.h"
#include "net/lastfm.h"
#include "net/lastfm_reply.h"
#include "plugin/messages.h"

#ifndef NIMBO_LASTFM_API_KEY
#define NIMBO_LASTFM_API_KEY ""
#endif
#ifndef NIMBO_LASTFM_API_SECRET
#define NIMBO_LASTFM_API_SECRET ""
#endif

namespace nimbo {

namespace {

// Libre.fm takes any key of 32 characters and checks no signature against a secret of
// its own, so the plugin brings one.
const char kLibreFmKey[] = "6e696d626f2d77696e616d702d706c75";
const char kLibreFmSecret[] = "6e696d626f2d6c69627265666d2d6b65";

// Error 29's wait, doubled while it repeats.
constexpr uint64_t kFirstRateWaitMs = 60000;
constexpr uint64_t kLongestRateWaitMs = 15 * 60000;

// What account `account` is called: "Last.fm", "Libre.fm" or the host's name, with its
// user where another account in use has the same server.
std::wstring accountNameOf(const Settings& s, size_t account) {
    return accountName(kAccounts, account, [&s](size_t i) {
        const LastFmKeys& k = kLastFmAccounts[i];
        return AccountLabel{lastFmServerName(s.*k.server), s.*k.user, s.*k.on == 1};
    });
}

// The API account: the user's own when pasted in the options, else the build's (or the
// one Libre.fm takes from anybody).
LastFmAuth accountFor(const std::wstring& server, const std::wstring& key,
                      const std::wstring& secret) {
    LastFmAuth auth;
    if (!trimBlanks(key).empty()) {
        auth.apiKey = encodeUtf8(trimBlanks(key));
        auth.secret = encodeUtf8(trimBlanks(secret));
    } else if (lastFmServerName(server) == L"Libre.fm") {
        auth.apiKey = kLibreFmKey;
        auth.secret = kLibreFmSecret;
    } else {
        auth.apiKey = NIMBO_LASTFM_API_KEY;
        auth.secret = NIMBO_LASTFM_API_SECRET;
    }
    return auth;
}

LastFmAuth accountFor(const Settings& s, const LastFmKeys& k) {
    LastFmAuth auth = accountFor(s.*k.server, s.*k.key, s.*k.secret);
    auth.sessionKey = encodeUtf8(trimBlanks(lastFmSessionInUse(s, k)));
    return auth;
}

// Why a scrobble was ignored (ignoredMessage codes 1-4).
std::wstring ignoredWhy(int code) {
    switch (code) {
        case 1:
            return L"artist ignored";
        case 2:
            return L"track ignored";
        case 3:
            return L"timestamp too old";
        case 4:
            return L"timestamp too new";
    }
    return L"ignored with code " + decimalText(code);
}

// The errors that only the user can mend, and the box each gives (none: not such one).
std::wstring userErrorBox(const std::wstring& name, int error) {
    switch (error) {
        case 9:
            return joined({L"Nimbo : ", name,
                           L" no longer accepts the connection; connect again in the options"});
        case 10:
            return joined({L"Nimbo : ", name, L" did not accept the API key"});
        case 13:
            return joined(
                {L"Nimbo : ", name, L" did not accept the signature: check the shared secret"});
        case 26:
            return joined({L"Nimbo : ", name, L" has suspended the API key"});
        case 4:
            return joined({L"Nimbo : ", name, L" did not accept the authentication"});
    }
    return std::wstring();
}

LastFmTrack trackOf(const std::wstring& artist, const std::wstring& title,
                    const std::wstring& album, int lengthSeconds, const TrackIds& ids) {
    LastFmTrack t;
    t.artist = artist;
    t.title = title;
    t.album = album;
    t.lengthSeconds = lengthSeconds;
    t.mbid = ids[TrackId::recording];
    t.trackNumber = int(std::wcstol(ids[TrackId::trackNumber].c_str(), nullptr, 10));
    t.albumArtist = ids[TrackId::albumArtist];
    return t;
}

LastFmTrack trackOf(const QueuedListen& q) {
    LastFmTrack t = trackOf(q.artist, q.title, q.album, q.lengthSeconds, q.ids);
    t.timestamp = q.listenedAt;
    return t;
}

// The log's words for a lane; each account's file is its own (queueFileName).
const LaneWords kScrobbleWords = {L"Last.fm: ", L"scrobble", L"scrobbles", L"the scrobble queue"};

// What one request came to.
struct Answer {
    bool reached = false;  // a whole reply came back
    bool own = false;      // a 2xx with the service's own account of what was asked
    int status = 0;
    LastFmReply reply;
    std::wstring quoted;  // the body's start, when it is not the service's answer
};

// One account's playing-now and scrobbles.
class LastFmTarget : public Target {
  public:
    explicit LastFmTarget(size_t account)
        : account_(account),
          k_(kLastFmAccounts[account]),
          line_(account == 0 ? ResultLine::lastFm
                             : ResultLine(int(ResultLine::lastFmMore) + int(account) - 1)),
          file_(queueFileName(L"nimbo-scrobbles", account)),
          lane_(file_, kScrobbleWords, kMaxScrobblesPerRequest) {}

    bool ready(const Settings& s) const override {
        // A session granted for another server or API key counts as none.
        if (s.*k_.on != 1 || trimBlanks(lastFmSessionInUse(s, k_)).empty()) return false;
        const LastFmAuth auth = accountFor(s, k_);
        return !auth.apiKey.empty() && !auth.secret.empty() && credentials(s) != refused_;
    }
    bool takesFields() const override { return true; }
    bool send(const Wanted& wanted, const Settings& settings, uint64_t now) override;
    // It has no clear: a playing-now ends by itself.
    void switchedOff(const Settings&) override {}
    bool clearsAtQuit(const Settings&) const override { return false; }
    void clearAtQuit(const Settings&, const ExchangeLimits&) override {}
    void reset() override;
    bool countsListens(const Settings& s) const override {
        return s.*k_.on == 1 && s.*k_.scrobbles == 1 &&
               !trimBlanks(lastFmSessionInUse(s, k_)).empty();
    }
    void listened(const QueuedListen& listen) override {
        if (trimBlanks(listen.artist).empty() || trimBlanks(listen.title).empty()) return;
        lane_.rename(headOf(currentSettings()));
        lane_.listened(listen);
    }
    bool backlogDue(const Settings& s, uint64_t now) const override {
        return lane_.due(now) && spacing_.dueBy(now) && ready(s) && s.*k_.scrobbles == 1;
    }
    void sendBacklog(const Settings& settings, uint64_t now) override {
        lane_.rename(headOf(settings));
        struct Turn {
            LastFmTarget* target;
            const Settings* settings;
        } turn{this, &settings};
        lane_.sendBacklog(
            now,
            [](void* c, const std::vector<QueuedListen>& batch, bool) {
                const Turn& t = *static_cast<Turn*>(c);
                return t.target->scrobble(*t.settings, batch);
            },
            &turn);
    }

    // For the options window, on its own thread.
    long waiting(bool& refused) const {
        readSettings([&](const Settings& s) { refused = refusedMark_.matches(credentials(s)); });
        return lane_.waitingCount();
    }
    void dropQueue() { dropQueueFile(queueFileName(L"nimbo-scrobbles", account_), lane_); }

  private:
    // "Last.fm: ", "Libre.fm: ", the host's, or "Last.fm (anna): " before its log lines.
    std::wstring headOf(const Settings& s) const { return accountNameOf(s, account_) + L": "; }
    // What a refusal holds back until it changes.
    std::wstring credentials(const Settings& s) const {
        return joined({s.*k_.session, L"|", s.*k_.key, L"|", s.*k_.secret});
    }

    Answer exchange(const Settings& settings, LastFmCall call,
                    const std::vector<LastFmTrack>& tracks, const std::wstring& failedHead);
    void failed(const Settings& settings, const Answer& answer, const Outcome& outcome,
                const std::wstring& failedHead);
    BatchOutcome scrobble(const Settings& settings, const std::vector<QueuedListen>& batch);

    RequestSpacing spacing_;   // the second between requests, or error 29's wait
    uint64_t rateWaitMs_ = 0;  // error 29's last wait
    std::wstring refused_;     // the session and account the service refused
    RefusalMark refusedMark_;  // and its mark for the options window

    const size_t account_;
    const LastFmKeys& k_;
    const ResultLine line_;
    QueueFileLane file_;
    ListenLane lane_;
};

void LastFmTarget::reset() {
    schedule_ = PublishSchedule();
    spacing_.reset();
    rateWaitMs_ = 0;
    refused_.clear();
    refusedMark_.clear();
    lane_.reset();
}

Answer LastFmTarget::exchange(const Settings& settings, LastFmCall call,
                              const std::vector<LastFmTrack>& tracks,
                              const std::wstring& failedHead) {
    spacing_.waitTurn(true);
    const uint64_t started = cycleClockMs();
    Answer answer;
    const std::optional<ApiRequest> request =
        lastFmRequest(settings.*k_.server, call, accountFor(settings, k_), tracks, md5Hex);
    HttpReply reply;
    Outcome outcome = Outcome::failedAt(NetStep::lookUp, StepEnd::failed);
    if (request) outcome = configuredApiExchange(*request, reply, kTickExchange);
    spacing_.started(started);
    answer.reached = outcome.ok() && !cutShort(outcome);
    answer.status = reply.statusCode;
    if (answer.reached) answer.reply = readLastFmReply(reply.body);
    // Only the service's own word counts: a gateway's or a framework's JSON, or a reply
    // cut short, leaves every scrobble where it is.
    answer.own = answer.reached && answer.status >= 200 && answer.status < 300 &&
                 (call == LastFmCall::scrobble ? answer.reply.accountsFor(tracks.size())
                                               : answer.reply.answersNowPlaying());
    if (!answer.own) answer.quoted = quotedReply(reply.body);
    if (answer.own) {
        rateWaitMs_ = 0;
        lane_.goAtOnce();
    } else {
        failed(settings, answer, outcome, failedHead);
    }
    return answer;
}

void LastFmTarget::failed(const Settings& settings, const Answer& answer, const Outcome& outcome,
                          const std::wstring& failedHead) {
    const std::wstring name = accountNameOf(settings, account_);
    const int error = answer.reply.error;
    std::wstring words;
    if (!answer.reached)
        words = whyFailed(outcome, L"the server").words;
    else if (error != 0)
        words = L"error " + decimalText(error) +
                (answer.reply.message.empty() ? L"" : L": " + answer.reply.message);
    else
        words = joined({L"the server answered ", decimalText(answer.status), L" without ", name,
                        L"'s answer", answer.quoted});
    const std::wstring brief = !answer.reached ? L"not reached"
                               : error         ? L"error " + decimalText(error)
                                               : L"answered " + decimalText(answer.status);
    logActivity(joined({headOf(settings), failedHead, L": ", words}), failedHead, brief, line_);
    if (error == 29) {
        // Too many requests: a minute, doubled while it goes on, at most 15.
        rateWaitMs_ = rateWaitMs_ == 0                       ? kFirstRateWaitMs
                      : rateWaitMs_ * 2 > kLongestRateWaitMs ? kLongestRateWaitMs
                                                             : rateWaitMs_ * 2;
        spacing_.waitUntil(cycleClockMs() + rateWaitMs_);
    }
    const std::wstring box = userErrorBox(name, error);
    if (!box.empty()) {
        // Said once; nothing more goes until the connection or the account changes.
        refused_ = credentials(settings);
        refusedMark_.set(refused_);
        showError(box);
    }
}

bool LastFmTarget::send(const Wanted& wanted, const Settings& settings, uint64_t now) {
    // Nothing to clear, and nothing while paused or stopped.
    if (wanted.clear || !wanted.playing) return false;
    if (spacing_.serverWaits(now))
        return false;  // error 29's wait: this one is not sent, the next change is
    const TrackFields& f = wanted.fields;
    const LastFmTrack track = trackOf(f.artist, f.title, f.album, wanted.lengthSeconds, f.ids);
    if (trimBlanks(track.artist).empty() || trimBlanks(track.title).empty()) return false;
    const std::wstring what = trimBlanks(track.artist) + L" - " + trimBlanks(track.title);
    // A playing-now that failed is not tried again: the next change sends anew.
    const Answer answer =
        exchange(settings, LastFmCall::updateNowPlaying, {track}, L"not published");
    // Ignored (its ignoredMessage code): the service has it, but will not show it.
    const int ignored = answer.reply.nowPlayingIgnored;
    const std::wstring why = ignored > 0 ? L": " + ignoredWhy(ignored) : std::wstring();
    const wchar_t* said = ignored > 0 ? L"not published" : L"published";
    if (answer.own)
        logActivity(joined({headOf(settings), said, L": ", what, why}), said, what, line_);
    schedule_.attempted(now, AttemptResult::done);
    return true;
}

BatchOutcome LastFmTarget::scrobble(const Settings& settings,
                                    const std::vector<QueuedListen>& batch) {
    std::vector<LastFmTrack> tracks;
    for (const QueuedListen& q : batch) tracks.push_back(trackOf(q));
    const Answer answer = exchange(settings, LastFmCall::scrobble, tracks, L"scrobbles not sent");
    BatchOutcome outcome =
        scrobbleOutcome(answer.reached ? answer.status : 0, answer.reply, batch.size());
    outcome.server = settings.*k_.server;
    if (outcome.kind != BatchOutcome::Kind::taken) return outcome;
    const std::vector<int>& codes = answer.reply.ignoredCodes;
    for (size_t i = 0; i < codes.size() && i < outcome.leaving; ++i)
        if (codes[i] != 0)
            logActivity(joined({headOf(settings), L"scrobble ignored: ",
                                ListenLane::named(batch[i]), L": ", ignoredWhy(codes[i])}));
    if (outcome.leaving < batch.size())
        logActivity(
            joined({headOf(settings), L"the daily scrobble limit is reached; ",
                    decimalText(int64_t(batch.size() - outcome.leaving)), L" wait an hour"}));
    return outcome;
}

LastFmTarget gLastFmTargets[kAccounts] = {LastFmTarget(0), LastFmTarget(1), LastFmTarget(2),
                                          LastFmTarget(3)};

}  // namespace

Target& lastFmTarget(size_t account) {
    return gLastFmTargets[account];
}

long scrobblesWaiting(size_t account, bool& refused) {
    return gLastFmTargets[account].waiting(refused);
}

void dropScrobbles(size_t account) {
    gLastFmTargets[account].dropQueue();
}

std::wstring lastFmAccountName(const Settings& s, size_t account) {
    return accountNameOf(s, account);
}

namespace {

// One request of the connection, outside the tick's spacing (the user is waiting).
LastFmReply askOnce(const std::wstring& server, LastFmCall call, const LastFmAuth& auth,
                    std::wstring& failure) {
    const std::optional<ApiRequest> request = lastFmRequest(server, call, auth, {}, md5Hex);
    if (!request) {
        failure = L"Not reached: no MD5 from Windows";
        return LastFmReply();
    }
    HttpReply reply;
    const Outcome outcome = configuredApiExchange(*request, reply, {30000, true});
    if (!outcome.ok() || cutShort(outcome)) {
        failure = L"Not reached: " + whyFailed(outcome, L"the server").brief;
        return LastFmReply();
    }
    return readLastFmReply(reply.body);
}

std::wstring refusedWords(const LastFmReply& reply) {
    return L"Not connected: error " + decimalText(reply.error) +
           (reply.message.empty() ? L"" : L", " + reply.message);
}

}  // namespace

LastFmConnection connectLastFm(const std::wstring& server, const std::wstring& key,
                               const std::wstring& secret,
                               FunctionRef<void(const std::wstring&)> said,
                               FunctionRef<void(const std::wstring&)> showPage,
                               const std::atomic<bool>& stop) {
    LastFmConnection connection;
    LastFmAuth auth = accountFor(server, key, secret);
    if (auth.apiKey.empty() || auth.secret.empty()) {
        connection.words = L"Not connected: enter the API key and shared secret";
        return connection;
    }
    LastFmReply reply = askOnce(server, LastFmCall::getToken, auth, connection.words);
    if (reply.token.empty()) {
        if (connection.words.empty()) connection.words = refusedWords(reply);
        return connection;
    }
    // A window closed while the token came opens no browser.
    if (stop || quitRequested()) {
        connection.words = L"Not connected";
        return connection;
    }
    auth.token = encodeUtf8(reply.token);
    showPage(widen(lastFmAuthUrl(server, auth.apiKey, auth.token)));
    said(L"Waiting for you to allow Nimbo in the browser\x2026");
    // Asked every 3 s for 10 minutes; error 14: not allowed yet.
    for (int asks = 0; asks < 200 && !stop && !quitRequested(); ++asks) {
        if (WaitForSingleObject(quitEvent(), 3000) == WAIT_OBJECT_0 || stop) break;
        std::wstring failure;
        reply = askOnce(server, LastFmCall::getSession, auth, failure);
        if (!reply.sessionKey.empty()) {
            connection.ok = true;
            connection.session = reply.sessionKey;
            connection.user = reply.userName;
            connection.words = L"Connected as " + reply.userName;
            return connection;
        }
        if (reply.error == 15 || reply.error == 4) {
            connection.words = L"The permission ran out: Connect again";
            return connection;
        }
        if (reply.error != 14 && failure.empty()) {
            connection.words = refusedWords(reply);
            return connection;
        }
    }
    connection.words = stop || quitRequested() ? L"Not connected"
                                               : L"Not connected: nobody allowed it in 10 minutes";
    return connection;
}

}  // namespace nimbo
