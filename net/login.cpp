#include "net/login.h"

#include <string>

#include "common/platform.h"
#include "common/text.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/http_client.h"
#include "net/publisher.h"

namespace nimbo {

const char kWrongCodeMarker[] = "\xCD\xE5\xE2\xE5\xF0\xED\xFB\xE9 \xEA\xEE\xE4.";

namespace {

// Its presence in the first reply means the service demands a security code.
const char kCodeFormMarker[] = "id=\"csid\" name=\"csid\"";

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

const char kSessionCookieLine[] = "Set-Cookie: remixsid";

std::string firstLoginUrl(const std::string& email, const std::string& password) {
    return std::string(kServiceHost) + "/login.php?email=" + urlEncode(email) +
           "&pass=" + urlEncode(password);
}

// csid goes in as it is: the service hands it out itself. The code is what the user
// typed, so a space, "&" or "#" in it must not end the value or the request line.
std::string codeLoginUrl(const std::string& email, const std::string& password,
                         const std::string& csid, const std::string& code) {
    return std::string(kServiceHost) +
           "/login.php?success_url=&fail_url=&try_to_login=1&email=" + urlEncode(email) +
           "&pass=" + urlEncode(password) + "&csid=" + csid + "&ccode=" + urlEncodeReserved(code);
}

// The challenge answered: done with the second reply in `reply`, or the outcome
// that ends the attempt without a cookie rule (no code, wrong code, quit).
Outcome answerChallenge(const std::string& email, const std::string& password,
                        SecurityCodePrompt askCode, Result<HttpReply>& reply) {
    const std::string& body = reply.value->body;
    const std::optional<std::string> sid = extractBetween8(body, L"captcha.php?sid", L"=", L"'");
    // Without a sid the challenge cannot be shown; the cookie rule decides.
    if (!sid) return Outcome();
    // The picture goes out with the Cookie setting, like any page request.
    const Result<std::string> picture =
        httpGetPage(std::string(kServiceHost) + "/captcha.php?sid=" + *sid);
    if (!picture.ok()) return Outcome::of(OutcomeKind::codeCancelled);
    const std::string code = askCode(*picture.value);
    if (code.empty() || quitRequested()) return Outcome::of(OutcomeKind::codeCancelled);
    const std::string csid =
        extractBetween8(body, L"name=\"csid\"", L"value=", L">").value_or(std::string());
    reply = httpLogin(codeLoginUrl(email, password, csid, code));
    if (reply.value && contains(reply.value->body, kWrongCodeMarker))
        return Outcome::of(OutcomeKind::wrongCode);
    return Outcome();
}

}  // namespace

std::optional<std::string> loginCookie(const std::vector<std::string>& headers) {
    std::optional<std::string> cookie;
    for (const std::string& line : headers) {
        if (line.compare(0, sizeof kSessionCookieLine - 1, kSessionCookieLine) != 0) continue;
        const size_t equals = line.find_first_not_of(' ', sizeof kSessionCookieLine - 1);
        // Another cookie whose name merely begins so, or no value at all.
        if (equals == std::string::npos || line[equals] != '=') continue;
        // Later cookies replace earlier ones, as in any browser.
        const std::string value =
            trimControls(line.substr(equals + 1, line.find(';') - equals - 1));
        cookie = "remixsid=" + value;
        if (value.empty() || value.find("deleted") != std::string::npos) cookie.reset();
    }
    return cookie;
}

Outcome logIn(SecurityCodePrompt askCode) {
    const Settings settings = currentSettings();
    const std::string email = narrow(settings.AuthLogin);
    const std::string password = narrow(settings.AuthPass);

    Result<HttpReply> reply = httpLogin(firstLoginUrl(email, password));
    if (reply.value && contains(reply.value->body, kCodeFormMarker)) {
        const Outcome challenge = answerChallenge(email, password, askCode, reply);
        if (!challenge) return challenge;
    }

    if (!reply.outcome) return reply.outcome;
    const std::optional<std::string> sessionCookie = loginCookie(reply.value->headers);
    // Cut short without a cookie: the site's answer never came.
    if (!sessionCookie && cutShort(reply.outcome))
        return Outcome::failedAt(NetStep::reply, stepEndOf(reply.outcome.replyEnd));
    if (!sessionCookie) return Outcome::of(OutcomeKind::loginRejected);
    const std::wstring cookie = widen(*sessionCookie);
    editSettings([&cookie](Settings& s) {
        s.Cookie = cookie;
        s.AuthLogin.clear();
        s.AuthPass.clear();
        s.NoLogin = true;
    });
    return reply.outcome;
}

}  // namespace nimbo
