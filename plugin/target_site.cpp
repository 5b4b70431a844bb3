#include "plugin/target_site.h"

#include "core/activity_log.h"
#include "core/state.h"
#include "net/login.h"
#include "net/publisher.h"
#include "plugin/messages.h"
#include "ui/security_code_dialog.h"

namespace nimbo {

namespace {

// What the failure words call the peer.
const wchar_t kSite[] = L"the site";

AttemptResult attemptResult(const Outcome& outcome) {
    if (cutShort(outcome)) return AttemptResult::unreachable;
    if (outcome.ok()) return AttemptResult::done;
    if (outcome.kind == OutcomeKind::noConnection && outcome.stepEnd != StepEnd::abandoned)
        return AttemptResult::unreachable;
    return AttemptResult::needsUser;
}

// The clear request goes out with the stored cookie in either mode, as at quit.
bool haveCookie(const Settings& settings) {
    return !settings.Cookie.empty();
}

bool canPublish(const Settings& settings) {
    return settings.NoLogin ? !settings.Cookie.empty()
                            : !settings.AuthLogin.empty() && !settings.AuthPass.empty();
}

class SiteTarget : public Target {
  public:
    bool ready(const Settings& settings) const override {
        // Missing credentials end it silently, before any tag is read.
        return canPublish(settings) || haveCookie(settings);
    }
    bool takesFields() const override { return false; }
    bool send(const Wanted& wanted, const Settings& settings, uint64_t now) override;
    void switchedOff(const Settings& settings) override {
        if (!haveCookie(settings) || shown_ == Shown::cleared) return;
        clearShownStatus(L"publishing switched off", true);
    }
    // As ever, even without credentials (the cycle leaves it out when another target
    // holds credentials and the site none).
    bool clearsAtQuit(const Settings&) const override { return true; }
    void clearAtQuit(const Settings&, const ExchangeLimits& limits) override {
        const Outcome cleared = clearActivity(limits);
        if (cleared && !cutShort(cleared)) {
            logActivity(L"status cleared at quit");
        } else {
            logActivity(L"status not cleared at quit: " + whyFailed(cleared, kSite).words);
        }
    }
    void reset() override {
        schedule_ = PublishSchedule();
        shown_ = Shown::unknown;
    }

  private:
    // What the plugin last made the profile show. Unknown at start: a status of an
    // earlier run may still stand, so the first clear is sent.
    enum class Shown { unknown, status, cleared };

    AttemptResult failed(ReportedStep step, const Outcome& outcome, const std::wstring& head,
                         const std::wstring& lastHead, bool firstTry);
    bool haveHash(const std::wstring& head, const std::wstring& lastHead, bool firstTry,
                  AttemptResult& result);
    AttemptResult clearShownStatus(const std::wstring& reason, bool firstTry);

    Shown shown_ = Shown::unknown;
};

// Logs a failed step and shows its message unless this is a try again (the first
// failure already followed the message rules). Returns how the schedule sees it.
AttemptResult SiteTarget::failed(ReportedStep step, const Outcome& outcome,
                                 const std::wstring& head, const std::wstring& lastHead,
                                 bool firstTry) {
    const Why why = whyFailed(outcome, kSite);
    logActivity(tryPrefix() + head + L": " + why.words, lastHead, why.brief);
    if (firstTry) report(step, outcome);
    return attemptResult(outcome);
}

// Makes sure activityHash is known; false (after logging) when it is not.
bool SiteTarget::haveHash(const std::wstring& head, const std::wstring& lastHead, bool firstTry,
                          AttemptResult& result) {
    if (!activityHash.empty()) return true;
    const Outcome fetched = fetchActivityHash();
    if (!fetched) {
        result = failed(ReportedStep::publish, fetched, head, lastHead, firstTry);
        return false;
    }
    if (activityHash.empty()) {
        // An empty value between the markers: no message, as ever, but a line.
        logActivity(tryPrefix() + head + L": the profile page holds an empty activity hash",
                    lastHead, L"no activity hash");
        result = AttemptResult::needsUser;
        return false;
    }
    return true;
}

// The clear request from the tick. Needs the cookie: a clear never logs in.
AttemptResult SiteTarget::clearShownStatus(const std::wstring& reason, bool firstTry) {
    AttemptResult result = AttemptResult::done;
    if (!haveHash(L"status not cleared (" + reason + L")", L"not cleared", firstTry, result))
        return result;
    const Outcome cleared = clearActivity(kTickExchange);
    if (!cleared || cutShort(cleared))
        return failed(ReportedStep::publish, cleared, L"status not cleared (" + reason + L")",
                      L"not cleared", firstTry);
    shown_ = Shown::cleared;
    logActivity(tryPrefix() + L"status cleared: " + reason, L"cleared", reason);
    return AttemptResult::done;
}

bool SiteTarget::send(const Wanted& wanted, const Settings& settings, uint64_t now) {
    const bool firstTry = schedule_.failedTries() == 0;
    if (wanted.clear) {
        // Decided before any login: a private track never brings up the security-code
        // window, and there is nothing to clear before the plugin has a cookie.
        if (shown_ == Shown::cleared || !haveCookie(settings)) {
            if (firstTry)
                logActivity(L"not published: " + wanted.reason, L"not published", wanted.reason);
            return false;
        }
        schedule_.attempted(now, clearShownStatus(wanted.reason, firstTry));
        return true;
    }

    if (!canPublish(settings)) return false;
    if (!settings.NoLogin) {
        const Outcome loggedIn =
            logIn([](const std::string& bytes) { return askSecurityCode(bytes); });
        if (!loggedIn) {
            // Tried again, like a publish, only when the site could not be reached; a
            // rejected login or a code needs the user.
            const Why why = whyFailed(loggedIn, kSite);
            logActivity(tryPrefix() + (loggedIn.kind == OutcomeKind::noConnection
                                           ? L"login failed: " + why.words
                                           : why.words),
                        L"not published", why.brief);
            if (firstTry) report(ReportedStep::logIn, loggedIn);
            schedule_.attempted(now, attemptResult(loggedIn));
            return true;
        }
        logActivity(L"logged in");
    }
    // A login may have taken until quit began; then nothing more goes out.
    if (quitRequested()) return true;

    AttemptResult result = AttemptResult::done;
    if (haveHash(L"not published", L"not published", firstTry, result) && !quitRequested()) {
        if (wanted.status.empty()) {
            // An empty status is never sent; nothing to tell, nothing to try again.
            result = AttemptResult::done;
        } else {
            const Outcome set = setActivity(wanted.status);
            if (!set || cutShort(set)) {
                result = failed(ReportedStep::publish, set, L"not published", L"not published",
                                firstTry);
            } else {
                shown_ = Shown::status;
                logActivity(tryPrefix() + L"published: " + wanted.status, L"published");
            }
        }
    }
    schedule_.attempted(now, result);
    return true;
}

SiteTarget gSiteTarget;

}  // namespace

Target& siteTarget() {
    return gSiteTarget;
}

}  // namespace nimbo
