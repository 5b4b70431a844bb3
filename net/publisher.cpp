#include "net/publisher.h"

#include <windows.h>

#include "common/text.h"
#include "common/utf8.h"
#include "core/state.h"
#include "net/http_client.h"

namespace nimbo {

const wchar_t kNoConnection[] = L"Vkontakte tags updating error : No connection";
const wchar_t kIncorrectLoginData[] = L"Vkontakte tags updating error : Incorrect login data";
const wchar_t kCantParse[] = L"Vkontakte tags updating error : Can't parse";

namespace {

// An empty set-activity reply means the hash went stale; one renewal is enough to
// recover from that, and more could loop on a service that always answers empty.
const int kMaxHashRenewals = 1;

std::string profileUrl() { return std::string(kServiceHost) + "/profile.php"; }

}  // namespace

void showError(const std::wstring& message) {
    // At quit the plugin closes a box still on screen itself; a new one would only
    // hold Winamp's exit up.
    if (quitRequested()) return;
    MessageBoxW(nullptr, message.c_str(), nullptr, MB_OK | MB_SETFOREGROUND);
}

void fetchActivityHash() {
    const std::string body = httpGetPage(profileUrl());
    if (body == "err") {
        activityHash.clear();
        showError(kNoConnection);
        return;
    }
    if (body.find("login.php?op=logout") == std::string::npos) {
        activityHash.clear();
        showError(kIncorrectLoginData);
        return;
    }
    const std::string hash = extractBetween8(body, L"activityhash", L"value='", L"'>");
    if (hash == "None") {
        activityHash.clear();
        showError(kCantParse);
        return;
    }
    activityHash = hash;
}

void setActivity(const std::wstring& statusText) {
    if (statusText.empty()) return;
    const std::string encodedText = urlEncode(encodeUtf8(statusText));
    for (int renewals = 0;; ++renewals) {
        const std::string body = httpGetPage(profileUrl() + "?setactivity=" + encodedText +
                                             "&activityhash=" + urlEncode(activityHash));
        if (body == "err") {
            showError(kNoConnection);
            return;
        }
        if (!body.empty() || renewals == kMaxHashRenewals || quitRequested()) return;
        fetchActivityHash();
        if (activityHash.empty()) return;
    }
}

void clearActivity() {
    httpGetPage(profileUrl() + "?clearactivity=1&activityhash=" + urlEncode(activityHash),
                kQuitExchange);
}

}  // namespace nimbo
