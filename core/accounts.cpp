#include "core/accounts.h"

#include "common/text.h"
#include "common/utf8.h"
#include "core/server_address.h"

namespace nimbo {

const ListenBrainzKeys kListenBrainzAccounts[kAccounts] = {
    {&Settings::ListenBrainz, &Settings::ListenBrainzToken, &Settings::ListenBrainzServer,
     &Settings::ListenBrainzListens},
    {&Settings::ListenBrainz2, &Settings::ListenBrainz2Token, &Settings::ListenBrainz2Server,
     &Settings::ListenBrainz2Listens},
    {&Settings::ListenBrainz3, &Settings::ListenBrainz3Token, &Settings::ListenBrainz3Server,
     &Settings::ListenBrainz3Listens},
    {&Settings::ListenBrainz4, &Settings::ListenBrainz4Token, &Settings::ListenBrainz4Server,
     &Settings::ListenBrainz4Listens},
};

const LastFmKeys kLastFmAccounts[kAccounts] = {
    {&Settings::LastFm, &Settings::LastFmServer, &Settings::LastFmKey, &Settings::LastFmSecret,
     &Settings::LastFmSession, &Settings::LastFmUser, &Settings::LastFmScrobbles,
     &Settings::LastFmSessionServer, &Settings::LastFmSessionApiKey},
    {&Settings::LastFm2, &Settings::LastFm2Server, &Settings::LastFm2Key, &Settings::LastFm2Secret,
     &Settings::LastFm2Session, &Settings::LastFm2User, &Settings::LastFm2Scrobbles,
     &Settings::LastFm2SessionServer, &Settings::LastFm2SessionApiKey},
    {&Settings::LastFm3, &Settings::LastFm3Server, &Settings::LastFm3Key, &Settings::LastFm3Secret,
     &Settings::LastFm3Session, &Settings::LastFm3User, &Settings::LastFm3Scrobbles,
     &Settings::LastFm3SessionServer, &Settings::LastFm3SessionApiKey},
    {&Settings::LastFm4, &Settings::LastFm4Server, &Settings::LastFm4Key, &Settings::LastFm4Secret,
     &Settings::LastFm4Session, &Settings::LastFm4User, &Settings::LastFm4Scrobbles,
     &Settings::LastFm4SessionServer, &Settings::LastFm4SessionApiKey},
};

std::wstring queueFileName(const wchar_t* stem, size_t account) {
    const wchar_t number[] = {L'-', wchar_t(L'1' + account), 0};  // kAccounts < 10
    return joined({stem, account > 0 ? number : L"", L".txt"});
}

std::wstring listenBrainzServerName(const std::wstring& server) {
    const ServerAddress address = readServerAddress(server);
    if (!address.ok) return trimBlanks(server);
    if (equalsNoCase(address.url.host, std::string("api.listenbrainz.org"))) return L"ListenBrainz";
    return decodeUtf8(address.url.host, Utf8Malformed::replaceEach);
}

std::wstring accountName(size_t count, size_t which, FunctionRef<AccountLabel(size_t)> label) {
    const AccountLabel own = label(which);
    bool shared = false, byUser = !own.user.empty();
    for (size_t i = 0; i < count; ++i) {
        if (i == which) continue;
        const AccountLabel other = label(i);
        if (!other.inUse || other.serverName != own.serverName) continue;
        shared = true;
        byUser = byUser && other.user != own.user;
    }
    if (!shared) return own.serverName;
    return joined({own.serverName, L" (",
                   byUser ? std::wstring(own.user) : decimalText(int64_t(which + 1)), L")"});
}

std::wstring listenBrainzAccountName(const Settings& s, size_t account) {
    return accountName(kAccounts, account, [&s](size_t i) {
        const ListenBrainzKeys& k = kListenBrainzAccounts[i];
        return AccountLabel{listenBrainzServerName(s.*k.server), {}, s.*k.on == 1};
    });
}

}  // namespace nimbo
