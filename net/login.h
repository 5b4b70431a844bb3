// Trading the user's e-mail and password for the service's login cookie, answering a
// security-code challenge through the prompt the caller hands in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/function_ref.h"
#include "net/outcome.h"

namespace nimbo {

// "Неверный код." in Windows-1251: the second login reply says the code was wrong.
extern const char kWrongCodeMarker[];

// Shows the security-code picture (the bytes the service sent for it) and returns
// what the user typed, in the ANSI code page; empty when nothing was typed or the
// picture could not be shown.
using SecurityCodePrompt = FunctionRef<std::string(const std::string& pictureBytes)>;

// The session cookie a login reply's header lines set: "remixsid=" and the value of the
// last "Set-Cookie: remixsid" line, up to its first ";" or the line's end. Nothing when
// no line sets one, or the last one sets an empty or a deleted value.
std::optional<std::string> loginCookie(const std::vector<std::string>& headers);

// Logs in with AuthLogin and AuthPass, fetching the picture and asking `askCode` when
// the service demands a code. Done: the reply's cookie is stored in Cookie, the
// e-mail and password are forgotten and cookie mode is on. Otherwise no setting
// changes, and the outcome says why: noConnection (a reply cut short without a
// cookie counts as one: the site's answer never came), loginRejected, wrongCode or
// codeCancelled. Shows no window of its own.
Outcome logIn(SecurityCodePrompt askCode);

}  // namespace nimbo
