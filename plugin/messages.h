// The plugin's one way of telling the user about an error, and which outcome of the
// update cycle's steps earns which message. net/ and ui/ only report outcomes.
#pragma once

#include <string>

#include "net/outcome.h"

namespace nimbo {

extern const wchar_t kNoConnection[];
extern const wchar_t kIncorrectLoginData[];
extern const wchar_t kCantParse[];
extern const wchar_t kUntrustedSite[];

// The steps whose outcomes may end in a message. Fetching the hash and setting the
// activity read alike: a renewal inside the set reports as the fetch would.
enum class ReportedStep { logIn, publish };

// The message `outcome` earns after `step`, or null when it earns none.
const wchar_t* messageFor(ReportedStep step, const Outcome& outcome, bool showErrors);

// A reply that ended before it was whole: the request may not have reached the site,
// and a profile page cut short reads as logged out or without a hash.
bool cutShort(const Outcome& outcome);

// Why a step failed, in plain words for the activity log, and the short form for the
// settings window; empty for a success. The words name the target's `peer` ("the site",
// "the server"), the proxy for its tunnel, and Winamp when its close ended the exchange.
struct Why {
    std::wstring words, brief;
};
Why whyFailed(const Outcome& outcome, const std::wstring& peer);

// A message box without owner and caption of its own; blocks until dismissed. Shows
// nothing once quit has begun.
void showError(const std::wstring& message);

// Shows the message `outcome` earns after `step`, if any, under the current settings.
void report(ReportedStep step, const Outcome& outcome);

}  // namespace nimbo
