#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/core/Language.h"
#include "app/desktop/Controls.h"
#include "app/desktop/Translator.h"

namespace quillet::desktop {
namespace fs = std::filesystem;

class TranslatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("quillet_tr_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "english.ini") << "[Win]\nTitle=Translated\nT10=Button\nT11=Edit text\nT12=\n"
                                               "T13=Two\\r\\nlines\n"
                                               "[COMMAND]\nM1000=Start\nM1002=Stop\nM0=Separator?\n"
                                               "[icon]\nM2=Nested\n";
        language_ = Language(dir_.string() + "/");
        language_.load();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    Language language_;
};

TEST_F(TranslatorTest, WindowTextsComeFromTheCaptionsSection)
{
    QWidget w;
    w.setWindowTitle("Win");
    auto* button = new QPushButton("resource", &w);
    auto* edit = new QLineEdit("typed", &w);
    auto* label = new QLabel("label", &w);
    auto* check = new QCheckBox("check", &w);
    auto* plain = new QLabel("no number", &w);
    setControlId(button, 10);
    setControlId(edit, 11);
    setControlId(label, 12);
    setControlId(check, 13);

    Translator(language_).translateWindow(&w);
    EXPECT_EQ(w.windowTitle(), "Translated");
    EXPECT_EQ(button->text(), "Button");
    EXPECT_EQ(edit->text(), "typed") << "edits keep their contents";
    EXPECT_EQ(label->text(), "label") << "an empty value keeps the resource text";
    EXPECT_EQ(check->text(), "Two  \r\nlines") << "the escape rule applies";
    EXPECT_EQ(plain->text(), "no number");

    QWidget untitled;
    auto* b2 = new QPushButton("resource", &untitled);
    setControlId(b2, 10);
    Translator(language_).translateWindow(&untitled);
    EXPECT_EQ(b2->text(), "resource") << "a window without caption is not translated";
}

TEST_F(TranslatorTest, MenuItemsByCommandNestedMenusByPosition)
{
    QMenu menu;
    QAction* start = addCommandItem(&menu, 1000);
    QAction* sep = menu.addSeparator();
    QMenu* nested = menu.addMenu("nested resource");
    QAction* stop = addCommandItem(nested, 1002);
    QAction* unknown = addCommandItem(&menu, 4242);
    unknown->setText("kept");

    Translator(language_).translateMenu(&menu, "icon");
    EXPECT_EQ(start->text(), "Start");
    EXPECT_TRUE(sep->isSeparator()) << "an M0 key never turns a separator into an item";
    EXPECT_EQ(nested->menuAction()->text(), "Nested");
    EXPECT_EQ(stop->text(), "Stop") << "nested items share the COMMAND section";
    EXPECT_EQ(unknown->text(), "kept");
    EXPECT_EQ(findCommandItem(&menu, 1000), start);
    EXPECT_EQ(findCommandItem(&menu, 1002), nullptr) << "only direct items";
}

} // namespace quillet::desktop
