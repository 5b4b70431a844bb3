#include "plugin/messages.h"

#include <windows.h>

#include "core/settings.h"
#include "core/state.h"

namespace nimbo {

const wchar_t kNoConnection[] = L"Vkontakte tags updating error : No connection";
const wchar_t kIncorrectLoginData[] = L"Vkontakte tags updating error : Incorrect login data";
const wchar_t kCantParse[] = L"Vkontakte tags updating error : Can't parse";
const wchar_t kUntrustedSite[] = L"Vkontakte tags updating error : the site's certificate is not trusted";

const wchar_t* messageFor(ReportedStep step, const Outcome& outcome, bool showErrors) {
    switch (outcome.kind) {
        case OutcomeKind::noConnection:
            return kNoConnection;
        case OutcomeKind::loginRejected:
            return step == ReportedStep::logIn && showErrors ? kIncorrectLoginData : nullptr;
        case OutcomeKind::loggedOut:
            return step == ReportedStep::publish ? kIncorrectLoginData : nullptr;
        case OutcomeKind::noHash:
            return step == ReportedStep::publish ? kCantParse : nullptr;
        case OutcomeKind::untrustedSite:
            return showErrors ? kUntrustedSite : nullptr;
        case OutcomeKind::done:
        case OutcomeKind::wrongCode:
        case OutcomeKind::codeCancelled:
            break;
    }
    return nullptr;
}

void showError(const std::wstring& message) {
    // At quit the plugin closes a box still on screen itself; a new one would only
    // hold Winamp's exit up.
    if (quitRequested()) return;
    MessageBoxW(nullptr, message.c_str(), nullptr, MB_OK | MB_SETFOREGROUND);
}

void report(ReportedStep step, const Outcome& outcome) {
    if (outcome.ok()) return;
    const wchar_t* message = messageFor(step, outcome, currentSettings().ShowErrors);
    if (message) showError(message);
}

}  // namespace nimbo
