// nimbo-preview: prints the status text the plugin would publish for each file, from
// the plugin's own composer and tag readers. Player values come from the options.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/ini_text.h"
#include "core/settings_codec.h"
#include "probe/composer.h"
#include "probe/playing_entry.h"
#include "probe/words.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace nimbo {
namespace {

const char kUsage[] =
    "usage: nimbo-preview (--mask TEXT | --ini WINAMP_INI) [--state playing|paused|stopped] "
    "[--title TEXT] [--length SECONDS] [--bitrate KBPS] [--samplerate KHZ] [--channels N] "
    "[--winamp FIELD=VALUE]... [--explain]"
#ifndef _WIN32
    " [--codepage 1251|1252]"
#endif
    " FILE...";

struct UsageError {
    std::string message;
};
struct HelpWanted {};

struct Options {
    std::wstring mask;
    bool haveMask = false;
    std::string iniPath;
    bool haveTitle = false;
    std::wstring title;
    std::string state;  // "" when not given
    // Numbers as the player would report them; -1 stands for a value it does not know.
    long length = -1, bitrate = -1, sampleRate = -1, channels = -1;
    bool explain = false;
    // What Winamp's input plugins would answer for every file: field -> text.
    std::vector<std::pair<std::wstring, std::wstring>> winamp;
    std::vector<std::wstring> files;
};

long number(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 1000000000L)
        throw UsageError{option + " takes a whole number from 0 up, not \"" + text + "\""};
    return value;
}

// Arguments arrive as UTF-8 (natively) or UTF-16 (Windows); the work is done wide.
Options parse(const std::vector<std::wstring>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string name = encodeUtf8(args[i]);
        if (name == "--help") throw HelpWanted{};
        auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
            return args[++i];
        };
        if (name == "--mask") {
            o.mask = value();
            o.haveMask = true;
        } else if (name == "--ini") {
            o.iniPath = encodeUtf8(value());
        } else if (name == "--title") {
            o.title = value();
            o.haveTitle = true;
        } else if (name == "--state") {
            o.state = encodeUtf8(value());
            if (o.state != "playing" && o.state != "paused" && o.state != "stopped")
                throw UsageError{"--state is playing, paused or stopped, not \"" + o.state + "\""};
        } else if (name == "--length") {
            o.length = number(name, encodeUtf8(value()));
        } else if (name == "--bitrate") {
            o.bitrate = number(name, encodeUtf8(value()));
        } else if (name == "--samplerate") {
            o.sampleRate = number(name, encodeUtf8(value()));
        } else if (name == "--channels") {
            o.channels = number(name, encodeUtf8(value()));
        } else if (name == "--winamp") {
            const std::wstring& pair = value();
            const size_t equals = pair.find(L'=');
            if (equals == std::wstring::npos || equals == 0)
                throw UsageError{"--winamp takes FIELD=VALUE, not \"" + encodeUtf8(pair) + "\""};
            o.winamp.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (name == "--explain") {
            o.explain = true;
#ifndef _WIN32
        } else if (name == "--codepage") {
            const std::string page = encodeUtf8(value());
            if (page != "1251" && page != "1252")
                throw UsageError{"--codepage is 1251 or 1252, not \"" + page + "\""};
            setAnsiCodePage(unsigned(std::stoul(page)));
#endif
        } else if (name.size() > 1 && name[0] == '-') {
            throw UsageError{"unknown option " + name};
        } else {
            o.files.push_back(args[i]);
        }
    }
    if (o.haveMask == !o.iniPath.empty()) throw UsageError{"give either --mask or --ini"};
    if (o.files.empty()) throw UsageError{"no FILE given"};
    return o;
}

// The status mask as the plugin loads it from winamp.ini: the stored text of
// "StatusMask" in section "Gen_Nimbo", or the built-in default when the key is absent.
std::wstring maskFromIni(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw UsageError{"cannot read " + path};
    std::string bytes;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, got);
    std::fclose(file);
    std::string stored;
    if (!readIniValue(bytes, "Gen_Nimbo", "StatusMask", stored)) return kDefaultStatusMask;
    return decodeStoredText(stored);
}

std::string numberText(long value, const std::wstring& mask) {
    return value < 0 ? localWord(mask, L"$unknown", "Unknown") : std::to_string(value);
}

std::string stateWord(const std::string& state, const std::wstring& mask) {
    if (state.empty()) return "-";
    return localWord(mask, L"$" + std::wstring(state.begin(), state.end()), state);
}

// One line per file: CR, LF and the backslash are escaped so a status of several
// lines still takes one.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool readable(const std::wstring& path) {
    ReadOnlyFile file(path);
    return file.isOpen();
}

int run(const std::vector<std::wstring>& args) {
    Options o;
    try {
        o = parse(args);
        if (!o.haveMask) o.mask = maskFromIni(o.iniPath);
    } catch (const HelpWanted&) {
        std::printf("%s\n", kUsage);
        return 0;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "nimbo-preview: %s (--help shows the usage)\n", e.message.c_str());
        return 2;
    }
    const std::wstring& mask = o.mask;
    // Each value the composer asks for is noted with where it came from.
    std::vector<std::string> asked;
    auto note = [&asked](const char* name, const char* option, long given,
                         const std::string& value) {
        const std::string source = given >= 0 ? std::string(option) + " " + std::to_string(given)
                                              : std::string("not given: the word for unknown");
        asked.push_back(std::string(name) + ": " + source + " -> " + value);
        return value;
    };
    PlayerValues player;
    player.currentTitle = [&o] { return o.haveTitle ? o.title : std::wstring(); };
    player.lengthText = [&] {
        return note(
            "length", "--length", o.length,
            o.length < 0 ? localWord(mask, L"$unknown", "Unknown") : formatLength(int(o.length)));
    };
    player.bitrateText = [&] {
        return note("bitrate", "--bitrate", o.bitrate, numberText(o.bitrate, mask));
    };
    player.sampleRateText = [&] {
        return note("samplerate", "--samplerate", o.sampleRate, numberText(o.sampleRate, mask));
    };
    player.channelsText = [&] {
        return note("channels", "--channels", o.channels, numberText(o.channels, mask));
    };
    player.fileInfo = [&](const std::wstring&, const wchar_t* field) {
        for (const auto& answer : o.winamp)
            if (answer.first == field) return answer.second;
        return std::wstring();
    };
    player.playStateText = [&] {
        const std::string word = stateWord(o.state, mask);
        asked.push_back(
            "curstate: " + (o.state.empty() ? std::string("not given") : "--state " + o.state) +
            " -> " + word);
        return word;
    };

    int status = 0;
    for (const std::wstring& file : o.files) {
        // A stream is not read: its song is the playlist title.
        if (!isStream(file) && !readable(file)) {
            std::fprintf(stderr, "nimbo-preview: cannot read %s\n", encodeUtf8(file).c_str());
            status = 1;
        }
        ValueSources sources;
        asked.clear();
        const std::wstring text = composeStatus(mask, file, player, &sources);
        std::printf("%s\n", oneLine(encodeUtf8(text)).c_str());
        if (o.explain) {
            std::printf("    artist: %s\n    title: %s\n", sources.artist.c_str(),
                        sources.title.c_str());
            if (!sources.album.empty()) std::printf("    album: %s\n", sources.album.c_str());
            if (!sources.year.empty()) std::printf("    year: %s\n", sources.year.c_str());
            for (const std::string& line : asked) std::printf("    %s\n", oneLine(line).c_str());
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace
}  // namespace nimbo

#ifdef _WIN32
int main() {
    // The wide command line: names and texts outside the code page arrive intact.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i) args.emplace_back(argv[i]);
    if (argv) LocalFree(argv);
    return nimbo::run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(nimbo::decodeUtf8(argv[i]));
    return nimbo::run(args);
}
#endif
