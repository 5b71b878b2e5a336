#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/hotkeys/GlobalHotkeys.h"
#include "app/hotkeys/HotkeyText.h"

namespace quillet {
namespace {

struct Parsed {
    bool ok;
    int modifier;
    int key;
};
Parsed parse(const std::string& text)
{
    HotkeyCode c;
    const bool ok = parseHotkeyText(text, &c) != 0;
    return {ok, ok ? c.modifier : -1, ok ? c.keyCode : -1};
}

TEST(HotkeyText, WhatEachStoredTextRegisters)
{
    const std::map<std::string, Parsed> cases = {
        {"F8", {true, 0, 119}},          {"F9", {true, 0, 120}},       {"F10", {true, 0, 121}},
        {"F11", {true, 0, 122}},         {"F2", {true, 0, 113}},       {"F12", {true, 0, 123}},
        {"F1", {false, -1, -1}},         {"F13", {false, -1, -1}},     {"A", {false, -1, -1}},
        {"5", {false, -1, -1}},          {"", {false, -1, -1}},        {"f8", {false, -1, -1}},
        {"Ctrl+A", {true, 2, 65}},       {"Ctrl+a", {false, -1, -1}},  {"Alt+F1", {true, 1, 112}},
        {"Ctrl+F", {true, 2, 'F'}},      {"Ctrl+F13", {true, 2, 124}}, {"Ctrl+Alt+5", {true, 3, '5'}},
        {"Ctrl+Alt+F9", {true, 3, 120}}, {"Ctrl+", {false, -1, -1}},   {"Alt+%", {false, -1, -1}},
        {"ctrl+A", {false, -1, -1}},     {"Alt+Z", {true, 1, 'Z'}},
    };
    for (const auto& [text, want] : cases) {
        const Parsed got = parse(text);
        EXPECT_EQ(got.ok, want.ok) << text;
        EXPECT_EQ(got.modifier, want.modifier) << text;
        EXPECT_EQ(got.key, want.key) << text;
    }
    for (int row = 0; row < kHotkeyCount; ++row)
        EXPECT_TRUE(parse(defaultHotkeyText(row)).ok);
    EXPECT_EQ(hotkeyCommand(2228), 1000);
    EXPECT_EQ(hotkeyCommand(2231), 1010);
    EXPECT_EQ(hotkeyCommand(2232), 0);
    EXPECT_EQ(hotkeyCommand(2227), 0);
}

TEST(HotkeyText, WindowShowsStoredTextsAndTakesKeys)
{
    HotkeyRow r = splitHotkeyText("Ctrl+Alt+5");
    EXPECT_EQ(r.entry, 3);
    EXPECT_EQ(r.key, "5");
    r = splitHotkeyText("F9");
    EXPECT_EQ(r.entry, 0);
    EXPECT_EQ(r.key, "F9");
    r = splitHotkeyText("Shift+Q"); // not one of the entries
    EXPECT_EQ(r.entry, 0);
    EXPECT_EQ(r.key, "Q");
    r = splitHotkeyText("");
    EXPECT_EQ(r.entry, -1);
    EXPECT_EQ(r.key, "");

    HotkeyRow row{0, "F8"};
    EXPECT_EQ(keyIntoRow('Q', &row), 1);
    EXPECT_EQ(row.key, "Q");
    EXPECT_EQ(row.entry, 1) << "a letter alone gets Ctrl";
    row.entry = 2;
    EXPECT_EQ(keyIntoRow('7', &row), 1);
    EXPECT_EQ(row.entry, 2) << "a chosen modifier stays";
    for (int f = 2; f <= 12; ++f) {
        EXPECT_EQ(keyIntoRow(111 + f, &row), 1);
        EXPECT_EQ(row.key, "F" + std::to_string(f));
    }
    // F1, Backspace, Delete, keypad 0: nothing changes.
    for (int code : {112, 8, 46, 96, 124}) {
        EXPECT_EQ(keyIntoRow(code, &row), 0) << code;
        EXPECT_EQ(row.key, "F12");
    }
}

TEST(HotkeyText, OkComposesTextsAndRefusesDuplicates)
{
    HotkeyRow rows[kHotkeyCount] = {{0, "F8"}, {0, "A"}, {2, "F10"}, {1, ""}};
    std::string texts[kHotkeyCount];
    ASSERT_EQ(composeHotkeyTexts(rows, texts), 1);
    EXPECT_EQ(texts[0], "F8");
    EXPECT_EQ(texts[1], "Ctrl+A");
    EXPECT_EQ(rows[1].entry, 1) << "the list follows";
    EXPECT_EQ(texts[2], "Alt+F10");
    EXPECT_EQ(texts[3], "Ctrl+") << "stored as it stands, and registers nothing";
    EXPECT_FALSE(parse(texts[3]).ok);

    HotkeyRow same[kHotkeyCount] = {{0, "F8"}, {0, "F9"}, {0, "F10"}, {0, "F8"}};
    EXPECT_EQ(composeHotkeyTexts(same, texts), 0);
    HotkeyRow empties[kHotkeyCount] = {{0, "F8"}, {-1, ""}, {0, "F10"}, {-1, ""}};
    EXPECT_EQ(composeHotkeyTexts(empties, texts), 0) << "two empty rows are equal";
    HotkeyRow viaCtrl[kHotkeyCount] = {{1, "B"}, {0, "B"}, {0, "F10"}, {0, "F11"}};
    EXPECT_EQ(composeHotkeyTexts(viaCtrl, texts), 0) << "B alone becomes Ctrl+B";
}

class FakeKeys : public GlobalHotkeys {
public:
    int registerKey(int id, const HotkeyCode& code) override
    {
        if (code.keyCode == heldElsewhere)
            return 0;
        ids.push_back(id);
        return 1;
    }
    void unregisterAll() override { ids.clear(); }
    void press(int id) { pressed(id); }
    int heldElsewhere = 0;
    std::vector<int> ids;
};

TEST(HotkeyText, StoredRowsAreRegisteredOrShownAlone)
{
    FakeKeys keys;
    keys.heldElsewhere = 120; // F9
    HotkeyStore stored;
    stored.texts[0] = "F8";
    stored.texts[1] = "F9";
    stored.texts[2] = "Ctrl+a";
    stored.texts[3] = "";
    std::string shown[kHotkeyCount];
    std::vector<std::string> refused;
    EXPECT_EQ(registerStoredHotkeys(keys, stored, shown, [&](const std::string& t) { refused.push_back(t); }), 1);
    EXPECT_EQ(keys.ids, std::vector<int>{2228});
    EXPECT_EQ(refused, std::vector<std::string>{"F9"}) << "an unparsable text is not a refusal";
    EXPECT_EQ(shown[1], "F9") << "shown even when another program holds it";
    EXPECT_EQ(shown[2], "Ctrl+a");
    EXPECT_EQ(shown[3], "");

    int got = 0;
    keys.onPressed([&](int id) { got = id; });
    keys.press(2228);
    EXPECT_EQ(got, 2228);

    FakeKeys off;
    stored.use = false;
    EXPECT_EQ(registerStoredHotkeys(off, stored, shown), 0);
    EXPECT_TRUE(off.ids.empty());
    for (const std::string& s : shown)
        EXPECT_TRUE(s.empty()) << "tool tips then end in ()";
}

} // namespace
} // namespace quillet
