#include "app/core/Language.h"

#include "base/BuiltinTexts.h"
#include "base/ProfileStore.h"

namespace quillet {

Language::Language(std::string languageFolder) : folder_(std::move(languageFolder))
{
    selectionFile_ = folder_ + "sel.ini";
    filePath_ = folder_ + fileName_;
}

Language::Language(std::string languageFolder, std::string selectionFile)
    : folder_(std::move(languageFolder)), selectionFile_(std::move(selectionFile))
{
    if (selectionFile_.empty())
        selectionFile_ = folder_ + "sel.ini";
    filePath_ = folder_ + fileName_;
}

bool Language::isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

void Language::load()
{
    std::string name;
    if (!ProfileStore(selectionFile_).find(kSelectionSection, kSelectionKey, &name) &&
        !ProfileStore(folder_ + "sel.ini").find(kSelectionSection, kSelectionKey, &name))
        name = kDefaultFile;
    cutToLimit(&name);
    // The selection file is outside input: a name with a path in it must not
    // make the program read files outside the language folder.
    if (!isPlainFileName(name))
        name = kDefaultFile;
    fileName_ = name;
    filePath_ = folder_ + fileName_;
}

int Language::writeSelection(const std::string& fileName) const
{
    ProfileStore sel(selectionFile_);
    return sel.writeString(kSelectionSection, kSelectionKey, fileName);
}

int Language::switchTo(const std::string& fileName)
{
    if (fileName == fileName_ || !isPlainFileName(fileName))
        return 0;
    fileName_ = fileName;
    filePath_ = folder_ + fileName_;
    writeSelection(fileName_);
    return 1;
}

void Language::applyEscapes(std::string* text)
{
    std::string& s = *text;
    for (size_t i = 0; i + 4 <= s.size();) {
        if (s.compare(i, 4, "\\r\\n") == 0) {
            s.replace(i, 4, "  \r\n");
            i += 4;
        } else {
            ++i;
        }
    }
}

void Language::cutToLimit(std::string* utf8)
{
    std::string& s = *utf8;
    int units = 0;
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        if (i + len > s.size())
            len = s.size() - i;
        const int u = len == 4 ? 2 : 1; // characters beyond the BMP take two UTF-16 units
        if (units + u > kMaxTextUnits)
            break;
        units += u;
        i += len;
    }
    s.resize(i);
}

std::string Language::read(const std::string& section, const std::string& key, const char* builtin) const
{
    ProfileStore file(filePath_);
    std::string v;
    if (!file.find(section, key, &v))
        v = builtin ? builtin : "";
    cutToLimit(&v);
    return v;
}

std::string Language::lookupText(const std::string& section, const std::string& key, const char* builtin) const
{
    std::string v = read(section, key, builtin);
    applyEscapes(&v);
    return v;
}

std::string Language::lookupMessage(const std::string& key, const char* builtin) const
{
    return lookupText("MSG", key, builtin);
}

std::string Language::lookupMessage(const std::string& key) const
{
    return lookupText("MSG", key, builtinMessage(key.c_str()));
}

std::string Language::lookupCaption(const std::string& key, const char* builtin, const std::string& section) const
{
    return read(section, key, builtin);
}

std::string Language::messageCaption() const
{
    return lookupCaption("Title", "Quillet 5", "Quillet");
}

} // namespace quillet
