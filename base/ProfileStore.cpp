#include "base/ProfileStore.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillet {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s)
{
    const char* ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos)
        return {};
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

// Reads the whole file as lines; false when it cannot be read as a regular file.
bool readLines(const std::string& path, std::vector<std::string>* lines)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        first = false;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines->push_back(line);
    }
    return true;
}

// A section header "[name]"; returns false for any other line.
bool sectionName(std::string_view line, std::string_view* name)
{
    std::string_view t = trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    size_t close = t.find(']');
    if (close == std::string_view::npos)
        return false;
    *name = trim(t.substr(1, close - 1));
    return true;
}

// A "key=value" line; comments (';' or '#') and lines without '=' are not entries.
bool keyValue(std::string_view line, std::string_view* key, std::string_view* value)
{
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    *key = trim(t.substr(0, eq));
    *value = trim(t.substr(eq + 1));
    return !key->empty();
}

std::string unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

} // namespace

bool ProfileStore::find(std::string_view section, std::string_view key, std::string* value) const
{
    std::vector<std::string> lines;
    if (!readLines(path_, &lines))
        return false;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name, k, v;
        if (sectionName(line, &name)) {
            inSection = equalsNoCase(name, section);
            continue;
        }
        if (inSection && keyValue(line, &k, &v) && equalsNoCase(k, key)) {
            if (value)
                *value = unquote(v);
            return true;
        }
    }
    return false;
}

std::string ProfileStore::getString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const
{
    std::string v;
    if (find(section, key, &v))
        return v;
    return std::string(defaultValue);
}

int ProfileStore::parseInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return static_cast<int>(v);
}

int ProfileStore::getInt(std::string_view section, std::string_view key, int defaultValue) const
{
    std::string v;
    if (!find(section, key, &v))
        return defaultValue;
    return parseInt(v);
}

int ProfileStore::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    std::string v(value);
    return rewrite(section, key, &v);
}

int ProfileStore::writeInt(std::string_view section, std::string_view key, int value)
{
    std::string v = std::to_string(value);
    return rewrite(section, key, &v);
}

int ProfileStore::removeKey(std::string_view section, std::string_view key)
{
    return rewrite(section, key, nullptr);
}

int ProfileStore::rewrite(std::string_view section, std::string_view key, const std::string* value)
{
    if (path_.empty())
        return 0;
    // Line breaks inside a value would split it into a second (stray) entry.
    if (value && value->find_first_of("\r\n") != std::string::npos)
        return 0;
    std::vector<std::string> lines;
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || !readLines(path_, &lines))
            return 0; // never replace a directory or a file we cannot read
    }

    const std::string entry = value ? std::string(key) + "=" + *value : std::string();
    bool inSection = false, sectionSeen = false, done = false;
    size_t insertAt = 0; // after the last entry line of the first matching section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name, k, v;
        if (sectionName(lines[i], &name)) {
            if (inSection)
                break; // the matching section ended without the key
            inSection = equalsNoCase(name, section);
            if (inSection) {
                sectionSeen = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!trim(lines[i]).empty())
            insertAt = i + 1;
        if (keyValue(lines[i], &k, &v) && equalsNoCase(k, key)) {
            if (value)
                lines[i] = std::string(k) + "=" + *value; // keep the key as the file spells it
            else
                lines.erase(lines.begin() + static_cast<long>(i));
            done = true;
        }
    }
    if (!done && value) {
        if (sectionSeen) {
            lines.insert(lines.begin() + static_cast<long>(insertAt), entry);
        } else {
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(entry);
        }
    } else if (!done) {
        return 1; // nothing to remove
    }

    const std::string tmp = path_ + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out)
            return 0;
        for (const std::string& line : lines)
            out << line << '\n';
        out.flush();
        if (!out) {
            out.close();
            std::remove(tmp.c_str());
            return 0;
        }
    }
    if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return 0;
    }
    return 1;
}

} // namespace quillet
