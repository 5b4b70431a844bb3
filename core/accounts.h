// The accounts of each listening-service interface: where each one's settings stand in
// `Settings`, and what the log, the result lines and the windows call it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/function_ref.h"
#include "core/settings.h"

namespace nimbo {

// Up to four accounts of each interface. The first stands in the keys of old, so an ini of
// an earlier build is its first account; account n in the same keys numbered n.
constexpr size_t kAccounts = 4;

struct ListenBrainzKeys {
    int Settings::*on;
    std::wstring Settings::*token, Settings::*server;
    int Settings::*listens;
};
struct LastFmKeys {
    int Settings::*on;
    std::wstring Settings::*server, Settings::*key, Settings::*secret, Settings::*session,
        Settings::*user;
    int Settings::*scrobbles;
    // The server and API key the session was granted for.
    std::wstring Settings::*sessionServer, Settings::*sessionApiKey;
};
extern const ListenBrainzKeys kListenBrainzAccounts[kAccounts];
extern const LastFmKeys kLastFmAccounts[kAccounts];

// The queue file of account `account` (from 0): "nimbo-listens.txt" for the first, as of
// old, then "nimbo-listens-2.txt" and on, from `stem` "nimbo-listens".
std::wstring queueFileName(const wchar_t* stem, size_t account);

// A ListenBrainz server's name: "ListenBrainz" for the service's own (an empty setting
// too), else the host; the setting as typed when it is no address.
std::wstring listenBrainzServerName(const std::wstring& server);

// An account as its name needs it.
struct AccountLabel {
    std::wstring serverName;  // "Last.fm", "Libre.fm", the host
    std::wstring_view user;   // empty: not known
    bool inUse = false;       // switched on
};
// What account `which` of `count` is called, `label(i)` telling account i's: its server's
// name, and where another account in use has that name too, the user in brackets
// ("Last.fm (anna)"), or the account's number when the user is not known or is the
// other's too ("ListenBrainz (2)").
std::wstring accountName(size_t count, size_t which, FunctionRef<AccountLabel(size_t)> label);

// The name of ListenBrainz account `account` among those of `s`.
std::wstring listenBrainzAccountName(const Settings& s, size_t account);

}  // namespace nimbo
