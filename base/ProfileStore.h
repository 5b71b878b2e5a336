#pragma once
#include <string>
#include <string_view>

namespace quillet {

// An ini-style profile file read and written key by key, with the semantics
// desktop programs expect from the platform's profile functions:
//  - section and key names compare case-insensitively (ASCII);
//  - a missing file, section or key yields the caller's default; the first of
//    duplicate keys wins;
//  - values are trimmed, and one pair of surrounding quotes is removed;
//  - integers are decimal text; a present value that is not a number yields 0;
//  - a write keeps every other line (comments, unknown keys, malformed lines)
//    and replaces the file atomically (temporary file, then rename).
// Nothing is cached: every call reads the file afresh, so two programs (or two
// objects) sharing a file always see each other's writes. Text is UTF-8; a
// leading byte-order mark is ignored.
class ProfileStore {
public:
    ProfileStore() = default;
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }

    // Returns the value, or defaultValue when the file, section or key is missing.
    std::string getString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Like getString, but tells whether the key exists (an empty value is present).
    bool find(std::string_view section, std::string_view key, std::string* value) const;
    int getInt(std::string_view section, std::string_view key, int defaultValue) const;

    // Each returns 1 when the file was rewritten, 0 when it could not be.
    int writeString(std::string_view section, std::string_view key, std::string_view value);
    int writeInt(std::string_view section, std::string_view key, int value);
    // Removes the key (a missing key is not an error).
    int removeKey(std::string_view section, std::string_view key);

    // Decimal text as the profile functions read it: optional blanks, optional
    // sign, digits; anything else (or nothing) reads as 0. Saturates at int range.
    static int parseInt(std::string_view text);

private:
    int rewrite(std::string_view section, std::string_view key, const std::string* value);
    std::string path_;
};

} // namespace quillet
