// Tracks the user keeps off the profile: the PrivateWords setting lists entries, one a
// line, and a track whose path, artist or title contains one of them is private.
#pragma once

#include <string>
#include <vector>

namespace nimbo {

class PrivateTracks {
  public:
    // `privateWords`: the setting's text, lines separated by CR LF (a lone CR or LF
    // ends a line too). Blanks around an entry are dropped; blank lines are no entry.
    explicit PrivateTracks(const std::wstring& privateWords);

    bool empty() const { return entries_.empty(); }
    // Whether `text` contains an entry, letters compared without regard to case in any
    // script the platform knows.
    bool matches(const std::wstring& text) const;

  private:
    std::vector<std::wstring> entries_;  // lower-cased
};

}  // namespace nimbo
