// Trading the user's e-mail and password for the service's login cookie, answering a
// security-code challenge through the prompt the caller hands in.
#pragma once

#include <functional>
#include <string>

namespace nimbo {

// "Неверный код." in Windows-1251: the second login reply says the code was wrong.
extern const char kWrongCodeMarker[];

// Shows the security-code picture at `imageUrl` and returns what the user typed, in the
// ANSI code page; empty when nothing was typed or the picture could not be shown.
using SecurityCodePrompt = std::function<std::string(const std::string& imageUrl)>;

// Logs in with AuthLogin and AuthPass, asking `askCode` when the service demands a code. On success stores the reply's cookie in
// Cookie, forgets the e-mail and password and switches to cookie mode; a failure
// changes no setting. Returns whether the plugin is now logged in.
bool logIn(const SecurityCodePrompt& askCode);

}  // namespace nimbo
