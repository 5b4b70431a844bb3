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

std::string firstLoginUrl(const std::string& email, const std::string& password) {
    return std::string(kServiceHost) + "/login.php?email=" + urlEncode(email) +
           "&pass=" + urlEncode(password);
}

// sid, csid and code go in as they are: the service hands out the first two itself.
std::string codeLoginUrl(const std::string& email, const std::string& password,
                         const std::string& csid, const std::string& code) {
    return std::string(kServiceHost) +
           "/login.php?success_url=&fail_url=&try_to_login=1&email=" + urlEncode(email) +
           "&pass=" + urlEncode(password) + "&csid=" + csid + "&ccode=" + code;
}

// The challenge answered: the second reply, or nothing when the attempt ends here
// without a message (dialog closed empty, wrong code, quit under way).
bool answerChallenge(const std::string& email, const std::string& password,
                     const SecurityCodePrompt& askCode, aDeltaOne& reply) {
    const std::string sid = extractBetween8(reply.body, L"captcha.php?sid", L"=", L"'");
    // Without a sid the challenge cannot be shown; the cookie rule decides.
    if (sid == "None") return true;
    const std::string code = askCode(std::string(kServiceHost) + "/captcha.php?sid=" + sid);
    if (code.empty() || quitRequested()) return false;
    const std::string csid = extractBetween8(reply.body, L"name=\"csid\"", L"value=", L">");
    reply = httpLogin(codeLoginUrl(email, password, csid, code));
    return !contains(reply.body, kWrongCodeMarker);
}

}  // namespace

bool logIn(const SecurityCodePrompt& askCode) {
    const Settings settings = currentSettings();
    const std::string email = narrow(settings.AuthLogin);
    const std::string password = narrow(settings.AuthPass);

    aDeltaOne reply = httpLogin(firstLoginUrl(email, password));
    if (contains(reply.body, kCodeFormMarker) && !answerChallenge(email, password, askCode, reply))
        return false;

    if (reply.cookie == "None") {
        if (currentSettings().ShowErrors) showError(kIncorrectLoginData);
        return false;
    }
    if (reply.cookie == "err") {
        showError(kNoConnection);
        return false;
    }
    const std::wstring cookie = widen(reply.cookie);
    editSettings([&cookie](Settings& s) {
        s.Cookie = cookie;
        s.AuthLogin.clear();
        s.AuthPass.clear();
        s.NoLogin = true;
    });
    return true;
}

}  // namespace nimbo
