#include "core/settings_keys.h"

#include <iterator>

namespace nimbo {

// Each key as saveSettings writes it: a flag as "0" or "1", a number in decimal, a text
// through the stored-text codec. A key counts as changed when its text does.
const SettingsKey kSettingsKeys[] = {
    {"Enabled", &Settings::Enabled, nullptr, nullptr},
    {"ShowErrors", &Settings::ShowErrors, nullptr, nullptr},
    {"Cookie", nullptr, nullptr, &Settings::Cookie},
    {"AuthLogin", nullptr, nullptr, &Settings::AuthLogin},
    {"AuthPass", nullptr, nullptr, &Settings::AuthPass},
    {"StatusMask", nullptr, nullptr, &Settings::StatusMask},
    {"NoLogin", &Settings::NoLogin, nullptr, nullptr},
    {"MinInterval", nullptr, &Settings::MinInterval, nullptr},
    {"PrivateWords", nullptr, nullptr, &Settings::PrivateWords},
    {"OnPause", nullptr, &Settings::OnPause, nullptr},
    {"OnStop", nullptr, &Settings::OnStop, nullptr},
    {"Secure", nullptr, &Settings::Secure, nullptr},
    {"ListenBrainz", nullptr, &Settings::ListenBrainz, nullptr},
    {"ListenBrainzToken", nullptr, nullptr, &Settings::ListenBrainzToken},
    {"ListenBrainzServer", nullptr, nullptr, &Settings::ListenBrainzServer},
    {"ListenBrainzListens", nullptr, &Settings::ListenBrainzListens, nullptr},
    {"LastFm", nullptr, &Settings::LastFm, nullptr},
    {"LastFmServer", nullptr, nullptr, &Settings::LastFmServer},
    {"LastFmKey", nullptr, nullptr, &Settings::LastFmKey},
    {"LastFmSecret", nullptr, nullptr, &Settings::LastFmSecret},
    {"LastFmSession", nullptr, nullptr, &Settings::LastFmSession},
    {"LastFmUser", nullptr, nullptr, &Settings::LastFmUser},
    {"LastFmScrobbles", nullptr, &Settings::LastFmScrobbles, nullptr},
    {"LastFmSessionServer", nullptr, nullptr, &Settings::LastFmSessionServer},
    {"LastFmSessionApiKey", nullptr, nullptr, &Settings::LastFmSessionApiKey},
    {"ListenBrainz2", nullptr, &Settings::ListenBrainz2, nullptr},
    {"ListenBrainz2Token", nullptr, nullptr, &Settings::ListenBrainz2Token},
    {"ListenBrainz2Server", nullptr, nullptr, &Settings::ListenBrainz2Server},
    {"ListenBrainz2Listens", nullptr, &Settings::ListenBrainz2Listens, nullptr},
    {"ListenBrainz3", nullptr, &Settings::ListenBrainz3, nullptr},
    {"ListenBrainz3Token", nullptr, nullptr, &Settings::ListenBrainz3Token},
    {"ListenBrainz3Server", nullptr, nullptr, &Settings::ListenBrainz3Server},
    {"ListenBrainz3Listens", nullptr, &Settings::ListenBrainz3Listens, nullptr},
    {"ListenBrainz4", nullptr, &Settings::ListenBrainz4, nullptr},
    {"ListenBrainz4Token", nullptr, nullptr, &Settings::ListenBrainz4Token},
    {"ListenBrainz4Server", nullptr, nullptr, &Settings::ListenBrainz4Server},
    {"ListenBrainz4Listens", nullptr, &Settings::ListenBrainz4Listens, nullptr},
    {"LastFm2", nullptr, &Settings::LastFm2, nullptr},
    {"LastFm2Server", nullptr, nullptr, &Settings::LastFm2Server},
    {"LastFm2Key", nullptr, nullptr, &Settings::LastFm2Key},
    {"LastFm2Secret", nullptr, nullptr, &Settings::LastFm2Secret},
    {"LastFm2Session", nullptr, nullptr, &Settings::LastFm2Session},
    {"LastFm2User", nullptr, nullptr, &Settings::LastFm2User},
    {"LastFm2Scrobbles", nullptr, &Settings::LastFm2Scrobbles, nullptr},
    {"LastFm2SessionServer", nullptr, nullptr, &Settings::LastFm2SessionServer},
    {"LastFm2SessionApiKey", nullptr, nullptr, &Settings::LastFm2SessionApiKey},
    {"LastFm3", nullptr, &Settings::LastFm3, nullptr},
    {"LastFm3Server", nullptr, nullptr, &Settings::LastFm3Server},
    {"LastFm3Key", nullptr, nullptr, &Settings::LastFm3Key},
    {"LastFm3Secret", nullptr, nullptr, &Settings::LastFm3Secret},
    {"LastFm3Session", nullptr, nullptr, &Settings::LastFm3Session},
    {"LastFm3User", nullptr, nullptr, &Settings::LastFm3User},
    {"LastFm3Scrobbles", nullptr, &Settings::LastFm3Scrobbles, nullptr},
    {"LastFm3SessionServer", nullptr, nullptr, &Settings::LastFm3SessionServer},
    {"LastFm3SessionApiKey", nullptr, nullptr, &Settings::LastFm3SessionApiKey},
    {"LastFm4", nullptr, &Settings::LastFm4, nullptr},
    {"LastFm4Server", nullptr, nullptr, &Settings::LastFm4Server},
    {"LastFm4Key", nullptr, nullptr, &Settings::LastFm4Key},
    {"LastFm4Secret", nullptr, nullptr, &Settings::LastFm4Secret},
    {"LastFm4Session", nullptr, nullptr, &Settings::LastFm4Session},
    {"LastFm4User", nullptr, nullptr, &Settings::LastFm4User},
    {"LastFm4Scrobbles", nullptr, &Settings::LastFm4Scrobbles, nullptr},
    {"LastFm4SessionServer", nullptr, nullptr, &Settings::LastFm4SessionServer},
    {"LastFm4SessionApiKey", nullptr, nullptr, &Settings::LastFm4SessionApiKey},
    {"Discord", nullptr, &Settings::Discord, nullptr},
    {"DiscordApp", nullptr, nullptr, &Settings::DiscordApp},
    {"DiscordShows", nullptr, &Settings::DiscordShows, nullptr},
    {"NowPlayingFile", nullptr, nullptr, &Settings::NowPlayingFile},
    {"NowPlayingMask", nullptr, nullptr, &Settings::NowPlayingMask},
    {"NowPlayingIdle", nullptr, nullptr, &Settings::NowPlayingIdle},
};
static_assert(std::size(kSettingsKeys) == kSettingsKeyCount, "a key left out of the count");

Settings::Settings(const Settings& other) : Settings() {
    *this = other;
}

Settings& Settings::operator=(const Settings& other) {
    for (const SettingsKey& k : kSettingsKeys) {
        if (k.flag)
            this->*k.flag = other.*k.flag;
        else if (k.number)
            this->*k.number = other.*k.number;
        else
            this->*k.text = other.*k.text;
    }
    return *this;
}

}  // namespace nimbo
