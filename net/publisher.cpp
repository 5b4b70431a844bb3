#include "net/publisher.h"

#include "common/text.h"
#include "common/utf8.h"
#include "core/activity_log.h"
#include "core/state.h"
#include "net/http_client.h"

namespace nimbo {

namespace {

// An empty set-activity reply means the hash went stale; one renewal is enough to
// recover from that, and more could loop on a service that always answers empty.
const int kMaxHashRenewals = 1;

std::string profileUrl() {
    return std::string(kServiceHost) + "/profile.php";
}

}  // namespace

Outcome fetchActivityHash() {
    const Result<std::string> page = httpGetPage(profileUrl());
    Outcome outcome = page.outcome;
    if (outcome) {
        const std::string& body = *page.value;
        if (body.find("login.php?op=logout") == std::string::npos) {
            // The kind changes, how the page ended stays: a page cut short is worth
            // another try, a whole one without the marker is not.
            outcome.kind = OutcomeKind::loggedOut;
        } else if (const std::optional<std::string> hash =
                       extractBetween8(body, L"activityhash", L"value='", L"'>")) {
            activityHash = *hash;
            setLogActivityHash(activityHash);
            return outcome;
        } else {
            outcome.kind = OutcomeKind::noHash;
        }
    }
    activityHash.clear();
    setLogActivityHash(activityHash);
    return outcome;
}

Outcome setActivity(const std::wstring& statusText) {
    if (statusText.empty()) return Outcome();
    const std::string encodedText = urlEncode(encodeUtf8(statusText));
    for (int renewals = 0;; ++renewals) {
        const Result<std::string> reply = httpGetPage(profileUrl() + "?setactivity=" + encodedText +
                                                      "&activityhash=" + urlEncode(activityHash));
        if (!reply.outcome || !reply.value->empty() || renewals == kMaxHashRenewals ||
            quitRequested()) {
            return reply.outcome;
        }
        const Outcome renewal = fetchActivityHash();
        if (!renewal || activityHash.empty()) return renewal;
    }
}

Outcome clearActivity(const ExchangeLimits& limits) {
    return httpGetPage(profileUrl() + "?clearactivity=1&activityhash=" + urlEncode(activityHash),
                       limits)
        .outcome;
}

}  // namespace nimbo
