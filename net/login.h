// Trading the user's e-mail and password for the service's login cookie, answering a
// security-code challenge through the security-code dialog when the service asks.
#pragma once

namespace nimbo {

// "Неверный код." in Windows-1251: the second login reply says the code was wrong.
extern const char kWrongCodeMarker[];

// Logs in with AuthLogin and AuthPass. On success stores the reply's cookie in
// Cookie, forgets the e-mail and password and switches to cookie mode; a failure
// changes no setting. Returns whether the plugin is now logged in.
bool logIn();

}  // namespace nimbo
