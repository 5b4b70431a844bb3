// winamp.ini read and written as bytes, so a stored value comes back exactly as it
// was written, whatever its length and whatever the code page. A Unicode (UTF-16)
// file, which only the platform's calls understand, goes through those instead.
#pragma once

#include <string>

namespace nimbo {

class IniFile {
  public:
    // Reads the whole file at once (see readFileContents).
    explicit IniFile(const std::wstring& path);

    // False when the file exists but could not be read: then it is no missing file,
    // and nothing may be written over it.
    bool readable() const { return readable_; }

    // Read: false when the key is absent. A value holds the file's bytes.
    bool get(const char* section, const char* key, std::string& value) const;
    // From the bytes already read, as the platform's integer read would take them.
    bool getBool(const char* section, const char* key, bool fallback) const;
    // A number of the later keys: blanks around it allowed, anything else (or a key
    // that is absent) gives the fallback rather than a silent 0.
    long getNumber(const char* section, const char* key, long fallback) const;
    bool hasSection(const char* section) const;

    void set(const char* section, const char* key, const std::string& value);
    // Writes the edited bytes back in one step: a failure anywhere leaves the file as
    // it was.
    bool commit();

  private:
    std::wstring path_;
    std::string bytes_;
    bool readable_ = false;
    bool unicode_ = false;
    bool changed_ = false;
    bool failed_ = false;  // a write through the platform failed
};

}  // namespace nimbo
