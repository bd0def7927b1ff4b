#pragma once
#include <stdexcept>
#include <string>
#include <string_view>

// The INI file object: our own reader and writer of INI text. Names are matched without regard
// to ASCII letter case; bytes are carried as they are (the files are in the 8-bit code page).
namespace larkspur {

// A write that could not be made: "Unable to write to <path>".
class EIniFileException : public std::runtime_error {
public:
    explicit EIniFileException(const std::string& path);
};

// A text that is not a whole decimal number: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& text);
};

// A whole decimal number with an optional sign that fits an int; anything else raises
// EConvertError.
int StrToInt(std::string_view text);

class TIniFile {
public:
    // Binds the object to the path; reads nothing and fails on nothing.
    explicit TIniFile(std::string path) : path_(std::move(path)) {}

    // The key's value with surrounding blanks and one pair of matching quotes removed, cut to
    // 2047 bytes; the default when the file, the section or the key is absent.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view default_value) const;

    // Writes through to the file before returning: replaces the key's value in place, or adds the
    // key at the end of its section, or the section at the end of the file; every other line
    // stays as it was. The file is replaced atomically (a sibling file, fsync, rename), so a crash
    // leaves either the old or the new file. Raises EIniFileException when it can't be written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    const std::string& FileName() const { return path_; }

private:
    std::string path_;
};

}  // namespace larkspur
