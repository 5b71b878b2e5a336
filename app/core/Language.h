#pragma once
#include <string>

namespace quillet {

// Texts of the active language file. Every user-visible text is looked up by
// section and key; a key missing from the file falls back to the program's
// built-in text (or to an empty text where there is none), while a key that is
// present with an empty value stays empty.
//
// Language files are UTF-8 ini files in the "Language" folder beside the
// program; "sel.ini" there (section "Quillet", key "Language") names the active
// one, "english.ini" by default.
class Language {
public:
    static constexpr const char* kSelectionSection = "Quillet";
    static constexpr const char* kSelectionKey = "Language";
    static constexpr const char* kDefaultFile = "english.ini";
    static constexpr const char* kChineseFile = "chinese.ini";
    // Longest text a lookup returns, in UTF-16 code units (the rest is cut).
    static constexpr int kMaxTextUnits = 499;

    Language() = default;
    // languageFolder ends with '/'.
    explicit Language(std::string languageFolder);
    // With the active language recorded in selectionFile rather than in the
    // folder's "sel.ini" (an installed program's folder is not the user's to
    // write); while selectionFile names none, the folder's "sel.ini" counts.
    Language(std::string languageFolder, std::string selectionFile);

    // Reads the active file name from the selection file. A missing selection,
    // or a name that is not a plain file name, gives "english.ini".
    void load();
    const std::string& fileName() const { return fileName_; }
    const std::string& filePath() const { return filePath_; }

    // Makes fileName the active language and records it in the selection file.
    // Returns 0 and changes nothing when it is already active or not a plain
    // file name; 1 otherwise (also when the selection file cannot be written:
    // the language still changes for this run).
    int switchTo(const std::string& fileName);
    // Writes a name into the selection file without making it active (the
    // command line's "-language NAME"). Returns 1 on success.
    int writeSelection(const std::string& fileName) const;

    // The text of key in section, with the escape rule applied: each typed
    // backslash-r-backslash-n becomes two spaces, a carriage return and a line
    // feed, so a one-line ini value can hold line breaks. builtin may be null.
    std::string lookupText(const std::string& section, const std::string& key, const char* builtin) const;
    // lookupText in section "MSG".
    std::string lookupMessage(const std::string& key, const char* builtin) const;
    // lookupText in section "MSG" with the program's built-in text for the key.
    std::string lookupMessage(const std::string& key) const;
    // For message-box captions: the same read without the escape rule.
    std::string lookupCaption(const std::string& key, const char* builtin, const std::string& section) const;
    // The standard message-box caption: "Title" of section "Quillet".
    std::string messageCaption() const;

    // Exposed for tests.
    static void applyEscapes(std::string* text);
    static void cutToLimit(std::string* utf8);
    static bool isPlainFileName(const std::string& name);

private:
    std::string read(const std::string& section, const std::string& key, const char* builtin) const;

    std::string folder_;
    std::string selectionFile_;
    std::string fileName_ = kDefaultFile;
    std::string filePath_;
};

} // namespace quillet
