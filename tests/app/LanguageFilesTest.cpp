#include "app/core/Language.h"
#include "app/desktop/ResourceTexts.h"
#include "base/BuiltinTexts.h"
#include "base/ProfileStore.h"

#include <gtest/gtest.h>
#include <string>

namespace quillet {

// The shipped language files must cover every message key, the window
// captions and the menu commands, so that neither language falls back to the
// other's built-in texts.
TEST(LanguageFiles, BothLanguagesAreComplete)
{
    for (const char* name : {"english.ini", "chinese.ini"}) {
        SCOPED_TRACE(name);
        ProfileStore file(std::string(QUILLET_LANGUAGE_SOURCE_DIR) + name);
        int count = 0;
        const char* const* keys = messageKeys(&count);
        ASSERT_GT(count, 60);
        for (int i = 0; i < count; ++i) {
            std::string v;
            EXPECT_TRUE(file.find("MSG", keys[i], &v)) << keys[i];
            EXPECT_FALSE(v.empty()) << keys[i];
        }
        EXPECT_EQ(file.getString("Quillet", "Title", ""), "Quillet 5");
        EXPECT_FALSE(file.getString("quillet", "About", "").empty());
        EXPECT_FALSE(file.getString("Setup", "Title", "").empty());
        EXPECT_FALSE(file.getString("hotKey", "Title", "").empty());
        for (const char* cmd : {"M1000", "M1001", "M1002", "M1010", "M32771", "M32774", "M32785", "M32786"})
            EXPECT_FALSE(file.getString("COMMAND", cmd, "").empty()) << cmd;
        EXPECT_FALSE(file.find("COMMAND", "M0", nullptr)) << "M0 would turn separators into items";

        // Every control and menu command of the desktop program's windows.
        int entries = 0;
        const desktop::ResourceEntry* e = desktop::resourceEntries(&entries);
        ASSERT_GT(entries, 40);
        for (int i = 0; i < entries; ++i) {
            const std::string key = (e[i].menu ? "M" : "T") + std::to_string(e[i].id);
            EXPECT_FALSE(file.getString(e[i].section, key, "").empty()) << e[i].section << "/" << key;
        }
        EXPECT_NE(file.getString(desktop::kAboutCaption, "T1050", "").find("5.--"), std::string::npos)
            << "the About window puts the version where 5.-- stands";
    }
}

// A translation with fewer places than the other language would drop a file
// name or the system's reason from its message; one with more would show a
// literal "%s".
TEST(LanguageFiles, BothLanguagesHaveTheSamePlacesInEveryMessage)
{
    ProfileStore en(std::string(QUILLET_LANGUAGE_SOURCE_DIR) + "english.ini");
    ProfileStore zh(std::string(QUILLET_LANGUAGE_SOURCE_DIR) + "chinese.ini");
    auto places = [](const std::string& text) {
        std::string p;
        for (size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] == '%') {
                if (text[i + 1] != '%')
                    p += text[i + 1];
                ++i;
            }
        return p;
    };
    int count = 0;
    const char* const* keys = messageKeys(&count);
    for (int i = 0; i < count; ++i) {
        const std::string e = places(en.getString("MSG", keys[i], ""));
        EXPECT_EQ(e, places(zh.getString("MSG", keys[i], ""))) << keys[i];
        if (const char* builtin = builtinMessage(keys[i])) {
            EXPECT_EQ(e, places(builtin)) << keys[i] << " (built-in text)";
        }
    }
}

TEST(LanguageFiles, LeadingBlanksAndFormatsSurviveTheLookup)
{
    Language en(QUILLET_LANGUAGE_SOURCE_DIR);
    en.load();
    if (en.fileName() != "english.ini")
        GTEST_SKIP() << "a sel.ini in the source tree chose another language";
    EXPECT_EQ(en.lookupMessage("DEFAULTA").substr(0, 3), "   ");
    const std::string fpsErr = en.lookupMessage("FpsErr");
    EXPECT_NE(fpsErr.find("%d%%"), std::string::npos) << "the rate placeholder must stay printf-safe";
    EXPECT_NE(en.lookupMessage("FPS").find("%d"), std::string::npos);
    EXPECT_EQ(en.lookupMessage("RecEnd").substr(en.lookupMessage("RecEnd").size() - 2), "\r\n");
}

} // namespace quillet
