#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/Controls.h"
#include "app/desktop/SettingsWindow.h"
#include "tests/app/desktop/WindowTestSupport.h"

namespace quillet::desktop {
using testing::BoxWatch;
using testing::ProgramFolder;

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override { QUILLET_NEEDS_DESKTOP(); }
    void open(const std::string& stored)
    {
        folder_.writeSettings(stored);
        values_.load(settings_.store(), 2);
        context_.screenWidth = 1920;
        context_.screenHeight = 1080;
        context_.deviceNames = {"Microphone"};
        context_.computerSound = true;
        window_ = std::make_unique<SettingsWindow>(language_, settings_, values_, context_, Rect{});
        window_->show();
    }
    QLineEdit* edit(int id) { return qobject_cast<QLineEdit*>(findControl(window_.get(), id)); }
    QComboBox* list(int id) { return qobject_cast<QComboBox*>(findControl(window_.get(), id)); }
    void typeArea(const char* l, const char* t, const char* w, const char* h)
    {
        edit(1011)->setText(l);
        edit(1012)->setText(t);
        edit(1014)->setText(w);
        edit(1015)->setText(h);
    }
    // Presses OK; returns the text of the box it showed ("" when none).
    QString pressOk()
    {
        BoxWatch box;
        box.answerNext(1500);
        qobject_cast<QPushButton*>(findControl(window_.get(), 1))->click();
        testing::spinUntil([&] { return box.seen; }, 300);
        return box.text;
    }
    std::string message(const char* key) { return language_.lookupMessage(key); }

    ProgramFolder folder_;
    SettingsFile settings_{folder_.paths.settingsFile, folder_.paths.defaultOutputFolder};
    Language language_{folder_.paths.languageFolder, folder_.paths.languageSelectionFile};
    SettingsValues values_;
    SettingsContext context_;
    std::unique_ptr<SettingsWindow> window_;
};

TEST_F(SettingsWindowTest, StoredValuesShowWithTheirRulesAndOkStoresTheLists)
{
    language_.load();
    open("[screen]\naudio2=7\nfps=20\n[Quillet]\nad=9\n");
    EXPECT_EQ(list(1013)->currentIndex(), 4) << "a stored 7 loads as 4";
    EXPECT_EQ(list(1031)->currentIndex(), 0) << "20 fps is not in the list: the first entry";
    EXPECT_EQ(list(1020)->count(), 3) << "default, Microphone, computer sound";
    EXPECT_EQ(list(1020)->currentIndex(), 2) << "an index above the count loads as the count";
    EXPECT_TRUE(qobject_cast<QRadioButton*>(findControl(window_.get(), 1027))->isChecked());
    EXPECT_EQ(edit(1014)->text(), "0");

    EXPECT_EQ(pressOk(), "") << "all zero is the whole screen";
    EXPECT_EQ(window_->result(), QDialog::Accepted);
    EXPECT_EQ(settings_.store().getInt("screen", "fps", -1), 2);
    EXPECT_EQ(settings_.store().getInt("screen", "audio2", -1), 4);
    EXPECT_EQ(settings_.store().getInt("Quillet", "ad", -1), 2);
    EXPECT_EQ(settings_.store().getInt("screen", "min", -1), 0);
    EXPECT_EQ(values_.framesPerSecond, 2);
}

TEST_F(SettingsWindowTest, RectangleChecksKeepTheWindowOpen)
{
    language_.load();
    open("");
    typeArea("0", "0", "63", "200");
    EXPECT_EQ(pressOk().toStdString(), message("Width2"));
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->result(), 0);

    typeArea("1900", "0", "100", "200");
    EXPECT_EQ(pressOk().toStdString(), message("Width1"));
    EXPECT_TRUE(window_->isVisible());

    typeArea("10", "x", "100", "200");
    EXPECT_EQ(pressOk().toStdString(), message("range1"));
    EXPECT_EQ(window_->focusWidget(), edit(1012)) << "the bad edit is the one to correct";
    EXPECT_FALSE(settings_.store().find("screen", "fps", nullptr)) << "nothing stored while refused";

    typeArea("100", "50", "640", "480");
    EXPECT_EQ(pressOk(), "");
    EXPECT_EQ(window_->result(), QDialog::Accepted);
    EXPECT_EQ(window_->rectangle(), (Rect{100, 50, 740, 530}));
}

TEST_F(SettingsWindowTest, CancelStoresNothing)
{
    language_.load();
    open("[screen]\nfps=10\n");
    list(1031)->setCurrentIndex(3);
    qobject_cast<QPushButton*>(findControl(window_.get(), 2))->click();
    EXPECT_EQ(window_->result(), QDialog::Rejected);
    EXPECT_EQ(settings_.store().getInt("screen", "fps", -1), 10);
    EXPECT_EQ(values_.framesPerSecond, 10);
}

} // namespace quillet::desktop
