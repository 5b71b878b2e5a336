#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/Controls.h"
#include "app/desktop/HotkeyWindow.h"
#include "base/ProfileStore.h"
#include "tests/app/desktop/WindowTestSupport.h"

namespace quillet::desktop {
using testing::BoxWatch;
using testing::ProgramFolder;

class HotkeyWindowTest : public ::testing::Test {
protected:
    void SetUp() override { QUILLET_NEEDS_DESKTOP(); }
    void open(const std::string& stored)
    {
        folder_.writeSettings(stored);
        language_.load();
        window_ = std::make_unique<HotkeyWindow>(language_, settings_);
        window_->show();
        testing::spinUntil([&] { return window_->isVisible(); }, 2000);
    }
    template <class W>
    W* control(int id)
    {
        return qobject_cast<W*>(findControl(window_.get(), id));
    }
    // Presses OK; returns the text of the box it showed ("" when none).
    QString pressOk()
    {
        BoxWatch box;
        box.answerNext(1500, QMessageBox::Ok);
        control<QPushButton>(1)->click();
        testing::spinUntil([&] { return box.seen; }, 300);
        return box.text;
    }
    std::string stored(const char* key) { return ProfileStore(folder_.paths.settingsFile).getString("HotKey", key, "?"); }

    ProgramFolder folder_;
    SettingsFile settings_{folder_.paths.settingsFile, folder_.paths.defaultOutputFolder};
    Language language_{folder_.paths.languageFolder, folder_.paths.languageSelectionFile};
    std::unique_ptr<HotkeyWindow> window_;
};

// The stored texts show split into list and box; keys pressed in a box are
// taken by the rules, and nothing typed reaches it; OK stores the texts.
TEST_F(HotkeyWindowTest, StoredTextsShowAndPressedKeysAreTaken)
{
    open("[HotKey]\nk1=Ctrl+Alt+5\nk2=\nk3=Alt+F10\n");
    EXPECT_TRUE(control<QCheckBox>(1012)->isChecked());
    EXPECT_TRUE(control<QComboBox>(1013)->isEnabled());
    EXPECT_EQ(window_->row(0).entry, 3);
    EXPECT_EQ(window_->row(0).key, "5");
    EXPECT_EQ(window_->row(1).entry, -1) << "an empty row has no selection";
    EXPECT_EQ(window_->row(1).key, "");
    EXPECT_EQ(window_->row(2).entry, 2);
    EXPECT_EQ(window_->row(3).key, "F11") << "the default";

    QLineEdit* pause = control<QLineEdit>(1005);
    QTest::keyClick(pause, Qt::Key_Q);
    EXPECT_EQ(window_->row(1).key, "Q");
    EXPECT_EQ(window_->row(1).entry, -1) << "a list without selection is left to OK";
    QTest::keyClick(control<QLineEdit>(1011), Qt::Key_Z);
    EXPECT_EQ(window_->row(0).entry, 3) << "a chosen modifier stays";
    QTest::keyClick(pause, Qt::Key_Backspace);
    QTest::keyClick(pause, Qt::Key_F1);
    QTest::keyClick(pause, Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(pause->text(), "Q") << "Backspace, F1 and keypad digits change nothing";
    QTest::keyClick(control<QLineEdit>(1015), Qt::Key_F12);
    EXPECT_EQ(window_->row(3).key, "F12");

    EXPECT_EQ(pressOk().toStdString(), language_.lookupMessage("hotkey2")) << "takes effect at the next start";
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(stored("k1"), "Ctrl+Alt+Z");
    EXPECT_EQ(stored("k2"), "Ctrl+Q") << "a single key without modifier gets Ctrl";
    EXPECT_EQ(stored("k3"), "Alt+F10");
    EXPECT_EQ(stored("k4"), "F12");
    EXPECT_EQ(stored("use"), "1");
}

// Two rows the same are refused and only "use" is stored; the defaults
// button restores F8..F11; the check box switches the rows.
TEST_F(HotkeyWindowTest, DuplicatesAreRefusedAndDefaultsRestored)
{
    open("[HotKey]\nuse=0\n");
    EXPECT_FALSE(control<QCheckBox>(1012)->isChecked());
    EXPECT_FALSE(control<QLineEdit>(1011)->isEnabled()) << "rows start disabled";
    control<QCheckBox>(1012)->click();
    EXPECT_TRUE(control<QLineEdit>(1011)->isEnabled());
    QTest::keyClick(control<QLineEdit>(1014), Qt::Key_F8); // stop = start
    EXPECT_EQ(pressOk().toStdString(), language_.lookupMessage("hotkey1"));
    EXPECT_TRUE(window_->isVisible()) << "the window stays open";
    EXPECT_EQ(stored("use"), "1") << "stored before the check";
    EXPECT_EQ(stored("k3"), "?") << "no text stored";

    control<QComboBox>(1013)->setCurrentIndex(2);
    control<QPushButton>(1009)->click();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(window_->row(i).entry, 0);
        EXPECT_EQ(window_->row(i).key, "F" + std::to_string(8 + i));
    }
    EXPECT_EQ(pressOk().toStdString(), language_.lookupMessage("hotkey2"));
    EXPECT_EQ(stored("k3"), "F10");
}

} // namespace quillet::desktop
