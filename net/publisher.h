// Setting and clearing the user's activity (the profile status) on the service,
// and the plugin's one way of telling the user about an error.
#pragma once

#include <string>

namespace nimbo {

// The service's host name; every request URL is this followed by a path.
extern const char kServiceHost[];

// Fills activityHash from the profile page, or clears it and says why.
void fetchActivityHash();
// Publishes the status text (nothing for an empty one); renews a stale hash once.
void setActivity(const std::wstring& statusText);
// The request that clears the status at quit; its reply and failures are ignored.
void clearActivity();

// A message box without owner and caption of its own; blocks until dismissed.
void showError(const std::wstring& message);

extern const wchar_t kNoConnection[];
extern const wchar_t kIncorrectLoginData[];
extern const wchar_t kCantParse[];

}  // namespace nimbo
