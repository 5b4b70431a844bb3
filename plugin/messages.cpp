#include "plugin/messages.h"

#include <windows.h>

#include "common/platform.h"
#include "common/text.h"
#include "core/settings.h"
#include "core/state.h"
#include "net/http.h"
#include "net/tls.h"

namespace nimbo {

const wchar_t kNoConnection[] = L"Vkontakte tags updating error : No connection";
const wchar_t kIncorrectLoginData[] = L"Vkontakte tags updating error : Incorrect login data";
const wchar_t kCantParse[] = L"Vkontakte tags updating error : Can't parse";
const wchar_t kUntrustedSite[] =
    L"Vkontakte tags updating error : the site's certificate is not trusted";

namespace {

// What each failure is called, in the log, in the settings window and, after a login
// or a publish, in a message box (the login's only with ShowErrors on).
struct OutcomeWords {
    OutcomeKind kind;
    const wchar_t* words;
    const wchar_t* brief;
    const wchar_t* afterLogIn;
    const wchar_t* afterPublish;  // the certificate's message, too, only with ShowErrors
};

// clang-format off
const OutcomeWords kOutcomeWords[] = {
    // The words of these two name the peer: whyFailed builds them.
    {OutcomeKind::noConnection,  nullptr, nullptr, kNoConnection, kNoConnection},
    {OutcomeKind::untrustedSite, nullptr, nullptr, kUntrustedSite, kUntrustedSite},
    {OutcomeKind::loggedOut,     L"the profile page shows nobody logged in (the cookie is wrong or expired)",
     L"not logged in", nullptr, kIncorrectLoginData},
    {OutcomeKind::noHash,        L"the profile page holds no activity hash", L"no activity hash",
     nullptr, kCantParse},
    {OutcomeKind::loginRejected, L"login rejected", L"login rejected", kIncorrectLoginData, nullptr},
    {OutcomeKind::wrongCode,     L"security code wrong", L"security code wrong", nullptr, nullptr},
    {OutcomeKind::codeCancelled, L"security code cancelled", L"security code cancelled", nullptr, nullptr},
};
// clang-format on

const OutcomeWords* wordsFor(OutcomeKind kind) {
    for (const OutcomeWords& w : kOutcomeWords) {
        if (w.kind == kind) return &w;
    }
    return nullptr;
}

std::wstring stepWords(NetStep step) {
    switch (step) {
        case NetStep::lookUp:
            return L"look-up";
        case NetStep::connect:
            return L"connect";
        case NetStep::tunnel:
            return L"proxy tunnel";
        case NetStep::handshake:
            return L"TLS handshake";
        case NetStep::send:
            return L"send";
        case NetStep::reply:
            return L"reply";
        case NetStep::none:
            break;
    }
    return L"request";
}

std::wstring secondsWords(unsigned ms) {
    return decimalText(ms / 1000) + L" s";
}

// The bound on a step's time in all: the handshake's, or a reply's (a proxy's too).
unsigned boundOf(NetStep step) {
    return step == NetStep::handshake ? kMaxHandshakeMs : kMaxReplyMs;
}

std::wstring replyEndWords(ReplyEnd end, const std::wstring& peer) {
    switch (end) {
        case ReplyEnd::timedOut:
            return peer + L"'s reply stopped for " + secondsWords(kHttpWaitMs);
        case ReplyEnd::tooLong:
            return peer + L"'s reply took longer than " + secondsWords(kMaxReplyMs) + L" in all";
        case ReplyEnd::reset:
            return peer + L"'s reply was cut off by a reset";
        case ReplyEnd::closedEarly:
            return peer + L"'s reply ended early";
        case ReplyEnd::overBound:
            return peer + L"'s reply was too long";
        case ReplyEnd::complete:
            break;
    }
    return std::wstring();
}

// A step on the way that failed. A tunnel that runs out of time waits for the proxy,
// not for the peer behind it.
Why stepWhy(const Outcome& outcome, const std::wstring& peer) {
    const std::wstring who = outcome.step == NetStep::tunnel ? std::wstring(L"the proxy") : peer;
    const std::wstring step = L" (" + stepWords(outcome.step) + L")";
    switch (outcome.stepEnd) {
        case StepEnd::abandoned:
            if (outcome.step == NetStep::reply)
                return {L"Winamp was closing before " + who + L"'s reply was complete",
                        L"Winamp was closing"};
            return {L"Winamp was closing before " + who + L" answered" + step,
                    L"Winamp was closing"};
        case StepEnd::refused:
            return {L"the proxy refused the tunnel: " + decimalText(outcome.proxyStatus),
                    L"the proxy refused the tunnel"};
        case StepEnd::protocol:
            return {L"the secure connection failed" + step, L"the secure connection failed"};
        case StepEnd::timedOut:
            return {who + L" did not answer within " + secondsWords(kHttpWaitMs) + step,
                    who + L" did not answer"};
        case StepEnd::tooLong: {
            const std::wstring took =
                who + L" took longer than " + secondsWords(boundOf(outcome.step));
            return {took + L" in all" + step, took};
        }
        case StepEnd::failed:
            break;
    }
    return {peer + L" could not be reached" + step, peer + L" could not be reached"};
}

}  // namespace

const wchar_t* messageFor(ReportedStep step, const Outcome& outcome, bool showErrors) {
    const OutcomeWords* w = wordsFor(outcome.kind);
    if (!w) return nullptr;
    const bool needsShowErrors =
        outcome.kind == OutcomeKind::untrustedSite ||
        (outcome.kind == OutcomeKind::loginRejected && step == ReportedStep::logIn);
    if (needsShowErrors && !showErrors) return nullptr;
    return step == ReportedStep::publish ? w->afterPublish : w->afterLogIn;
}

Why whyFailed(const Outcome& outcome, const std::wstring& peer) {
    if (outcome.replyEnd == ReplyEnd::tooLong)
        return {replyEndWords(outcome.replyEnd, peer),
                peer + L"'s reply took longer than " + secondsWords(kMaxReplyMs)};
    if (cutShort(outcome))
        return {replyEndWords(outcome.replyEnd, peer), peer + L"'s reply was cut short"};
    if (outcome.kind == OutcomeKind::noConnection) return stepWhy(outcome, peer);
    if (outcome.kind == OutcomeKind::untrustedSite)
        return {peer + L"'s certificate is not trusted", L"certificate not trusted"};
    const OutcomeWords* w = wordsFor(outcome.kind);
    if (!w) return {};
    return {w->words, w->brief};
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
