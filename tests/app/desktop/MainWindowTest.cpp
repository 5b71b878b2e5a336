#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QSignalSpy>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/Controls.h"
#include "app/desktop/FormatList.h"
#include "app/desktop/AboutWindow.h"
#include "app/desktop/MainWindow.h"
#include "app/desktop/SettingsWindow.h"
#include "tests/app/update/LocalHttpServer.h"
#include "tests/app/desktop/WindowTestSupport.h"

namespace quillet::desktop {
using testing::ProgramFolder;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { QUILLET_NEEDS_DESKTOP(); }
    void open(const std::string& stored)
    {
        folder_.writeSettings(stored);
        language_.load();
        window_ = std::make_unique<MainWindow>(folder_.paths, settings_, language_);
        window_->show();
        testing::spinUntil([&] { return window_->isVisible(); }, 2000);
    }
    QString tip(int id) { return findControl(window_.get(), id)->toolTip(); }
    std::string msg(const char* key) { return language_.lookupMessage(key); }
    QString item(QMenu* menu, int id) { return findCommandItem(menu, id) ? findCommandItem(menu, id)->text() : "<none>"; }

    ProgramFolder folder_;
    SettingsFile settings_{folder_.paths.settingsFile, folder_.paths.defaultOutputFolder};
    Language language_{folder_.paths.languageFolder, folder_.paths.languageSelectionFile};
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, HotkeyTextsInToolTipsAndTrayMenu)
{
    open("");
    EXPECT_EQ(tip(1000).toStdString(), msg("ToolTip3") + "(F8)");
    EXPECT_EQ(tip(1010).toStdString(), msg("ToolTip6") + "(F11)");
    EXPECT_EQ(tip(1035).toStdString(), msg("ToolTip2")) << "no hotkey for Play";
    QMenu* tray = window_->trayMenu();
    emit tray->aboutToShow();
    EXPECT_TRUE(item(tray, kCmdStop).endsWith("(F10)"));
    EXPECT_TRUE(findCommandItem(tray, kCmdStart)->isEnabled());
    EXPECT_FALSE(findCommandItem(tray, kCmdPause)->isEnabled()) << "stopped: pause and stop greyed";
    EXPECT_FALSE(findCommandItem(tray, kCmdStop)->isEnabled());
    EXPECT_TRUE(findCommandItem(tray, kCmdExit)->isEnabled());
}

TEST_F(MainWindowTest, HotkeysOffLeaveEmptyParenthesesOnlyInToolTips)
{
    open("[HotKey]\nuse=0\n");
    for (int id : {1000, 1001, 1002, 1010})
        EXPECT_TRUE(tip(id).endsWith("()")) << id << " " << tip(id).toStdString();
    QMenu* tray = window_->trayMenu();
    emit tray->aboutToShow();
    EXPECT_FALSE(item(tray, kCmdStart).contains('(')) << item(tray, kCmdStart).toStdString();
}

TEST_F(MainWindowTest, FormatListKeepsTheFileNameInStep)
{
    open("[screen]\nSel3=0\n");
    EXPECT_TRUE(window_->fileBoxText().endsWith(".mp4")) << window_->fileBoxText().toStdString();
    const QString stem = window_->fileBoxText().chopped(3);
    auto* list = qobject_cast<FormatList*>(findControl(window_.get(), 1031));
    EXPECT_EQ(list->itemValue(0), 14024);
    EXPECT_EQ(FormatList::valueColour(14024), QColor(200, 54, 0));
    EXPECT_EQ(list->itemValue(3), 0);
    list->setCurrentIndex(2);
    EXPECT_EQ(window_->fileBoxText(), stem + "avi");
    EXPECT_EQ(settings_.store().getInt("screen", "Sel3", -1), 2);
    auto* info = qobject_cast<QPlainTextEdit*>(findControl(window_.get(), 1011));
    EXPECT_EQ(info->toPlainText().toStdString(), msg("ginfo2"));
    list->setCurrentIndex(5);
    EXPECT_EQ(window_->fileBoxText(), stem + "jpg");
}

TEST_F(MainWindowTest, SettingsMenuFollowsSoundChoice)
{
    open("[Quillet]\na=1\nad=0\n");
    std::unique_ptr<QMenu> menu(window_->buildSettingsMenu());
    QAction* sound = findCommandItem(menu.get(), kCmdRecordSound);
    ASSERT_NE(sound, nullptr);
    EXPECT_TRUE(sound->isChecked());
    EXPECT_EQ(sound->text().toStdString(), msg("audio3") + msg("audio1"));
    EXPECT_EQ(findCommandItem(menu.get(), kCmdUseDefaultDevice), nullptr)
        << "only offered when the computer's sound is the source";
    EXPECT_TRUE(findCommandItem(menu.get(), kCmdWholeScreen)->isChecked());

    window_->dispatchCommand(kCmdRecordSound);
    EXPECT_EQ(settings_.store().getInt("Quillet", "a", -1), 0);
    menu.reset(window_->buildSettingsMenu());
    EXPECT_FALSE(findCommandItem(menu.get(), kCmdRecordSound)->isChecked());
}

TEST_F(MainWindowTest, EscapeKeepsTheWindowAndCloseWhileStoppedEnds)
{
    open("");
    QSignalSpy exit(window_.get(), &MainWindow::exitRequested);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &esc);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(exit.count(), 0);
    window_->close();
    EXPECT_EQ(exit.count(), 1) << "closing while stopped ends the program";
}

TEST_F(MainWindowTest, LanguageSwitchRetranslatesAndRecordsTheChoice)
{
    open("[screen]\nSel3=1\n");
    const std::string sel = folder_.paths.languageSelectionFile;
    window_->dispatchCommand(kCmdEnglish);
    EXPECT_FALSE(std::filesystem::exists(sel)) << "the active language: nothing written";

    window_->dispatchCommand(kCmdChinese);
    EXPECT_EQ(language_.fileName(), "chinese.ini");
    EXPECT_TRUE(std::filesystem::exists(sel));
    auto* list = qobject_cast<FormatList*>(findControl(window_.get(), 1031));
    EXPECT_EQ(list->currentIndex(), 1) << "the selection survives the refill";
    EXPECT_EQ(list->currentText().toStdString(), language_.lookupMessage("Typ2"));
    EXPECT_EQ(tip(1000).toStdString(), language_.lookupMessage("ToolTip3") + "(F8)");
    EXPECT_EQ(window_->windowTitle().toStdString(), language_.lookupText("Quillet", "Title", nullptr));
}

// The update check runs from the main window; the About window's update
// button names the newer version it found.
TEST_F(MainWindowTest, AboutWindowShowsTheUpdateOffer)
{
    const std::string body = "<html><head><title>Quillet Max:9.1.0.0 news</title></head><BODY >news</BODY></html>";
    test::LocalHttpServer server(test::LocalHttpServer::reply(
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
    open("[Update]\nHost=127.0.0.1:" + std::to_string(server.port()) + "\nPage=news.html\n");
    ASSERT_TRUE(testing::spinUntil([&] { return server.connections() > 0; }, 5000)) << "no update request";
    testing::spinUntil([] { return false; }, 500); // the reply is read on this thread

    QString shown;
    bool enabled = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* about = qobject_cast<AboutWindow*>(QApplication::activeModalWidget())) {
            auto* button = qobject_cast<QPushButton*>(findControl(about, 1052));
            shown = button->text();
            enabled = button->isEnabled();
            about->reject();
        }
    });
    poll.start(50);
    window_->dispatchCommand(kCmdAbout);
    EXPECT_EQ(shown.toStdString(), msg("update2") + "9.1.0.0");
    EXPECT_TRUE(enabled);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].rfind("GET /news.html HTTP/1.0\r\n", 0), 0u) << server.requests()[0];
}

// Runs act on the first modal window of type W that opens while command runs.
template <class W>
bool withModal(MainWindow& window, int command, const std::function<void(W*)>& act)
{
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()); w && !seen) {
            seen = true;
            act(w);
        }
    });
    poll.start(50);
    window.dispatchCommand(command);
    return seen;
}

TEST_F(MainWindowTest, RectangleTypedInTheSettingsWindowIsRecorded)
{
    open("");
    const bool opened = withModal<SettingsWindow>(*window_, kCmdDetailedSettings, [](SettingsWindow* s) {
        const int ids[4] = {1011, 1012, 1014, 1015};
        const char* values[4] = {"100", "200", "640", "480"};
        for (int i = 0; i < 4; ++i)
            qobject_cast<QLineEdit*>(findControl(s, ids[i]))->setText(values[i]);
        qobject_cast<QPushButton*>(findControl(s, 1))->click();
    });
    ASSERT_TRUE(opened);
    EXPECT_EQ(window_->captureRect(), (Rect{100, 200, 740, 680}));
    std::unique_ptr<QMenu> menu(window_->buildSettingsMenu());
    EXPECT_TRUE(findCommandItem(menu.get(), kCmdSelectArea)->isChecked()) << "an area, not the whole screen";

    window_->dispatchCommand(kCmdWholeScreen);
    EXPECT_EQ(window_->captureRect().right, window_->captureRect().left);
}

TEST_F(MainWindowTest, ChangedFolderIsStoredAfterItsWriteTest)
{
    open("[screen]\nSel3=0\n");
    const std::string folder = (folder_.root / "Video").string();
    std::filesystem::create_directories(folder);
    const std::string before = settings_.outputFolder();
    auto choose = [&](const std::string& path) {
        return withModal<QFileDialog>(*window_, kCmdChangeFolder, [path](QFileDialog* d) {
            // Typed into the dialog's name field, as a user would.
            auto* name = d->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path));
            QMetaObject::invokeMethod(d, "accept");
        });
    };
    ASSERT_TRUE(choose(folder + "/talk.FLV"));
    EXPECT_EQ(settings_.outputFolder(), folder + "/");
    EXPECT_EQ(window_->formatIndex(), 1) << "the FLV entry is selected";
    EXPECT_EQ(window_->fileBoxText().toStdString(), folder + "/talk.flv");
    EXPECT_FALSE(std::filesystem::exists(folder + "/orvikrectest.txt"));

    ASSERT_TRUE(choose(folder + "/still.png"));
    EXPECT_EQ(window_->formatIndex(), 1) << "png matches no entry";
    EXPECT_EQ(window_->fileBoxText().toStdString(), folder + "/still.png");
}

// Damaged settings, language selection and language file: the program's own
// texts and the defaults, no crash.
TEST_F(MainWindowTest, DamagedFilesGiveDefaults)
{
    const std::string garbage("\xff\xfe[[\x00\x01]Quillet\nTitle\n=\n[MSG\nTyp1=\xc3\n\x80\x80\x80 ]]]", 40);
    {
        std::ofstream(folder_.paths.languageFolder + "sel.ini") << "[Quillet]\nLanguage=../../etc/passwd\n";
        std::ofstream(folder_.paths.languageFolder + "english.ini", std::ios::trunc) << garbage;
    }
    open("[screen]\nSel3=99\naudio2=abc\nfps=\n" + garbage);
    EXPECT_EQ(language_.fileName(), "english.ini") << "a path in sel.ini is refused";
    EXPECT_EQ(window_->formatIndex(), 0);
    EXPECT_EQ(window_->currentQualityLevel(), 0) << "a value that is no number reads as 0";
    EXPECT_TRUE(window_->fileBoxText().endsWith(".mp4"));
    EXPECT_FALSE(window_->windowTitle().isEmpty());
    auto* list = qobject_cast<FormatList*>(findControl(window_.get(), 1031));
    EXPECT_EQ(list->itemText(1).toStdString(), "FLV - 网页播放常用") << "the built-in text";
    std::unique_ptr<QMenu> menu(window_->buildSettingsMenu());
    EXPECT_FALSE(findCommandItem(menu.get(), kCmdDetailedSettings)->text().isEmpty());
}

// A whole recording inside the test: the session's worker threads hand the
// window their sound buffers and notices through queued calls (what the
// sanitizer builds check), and the file plays.
TEST_F(MainWindowTest, RecordsThroughTheSessionFromTheWindow)
{
    open("[screen]\nfps=10\nSel3=0\n[Quillet]\na=1\n");
    testing::BoxWatch confirm, end;
    confirm.answerNext(3000, QMessageBox::Ok);
    QTimer::singleShot(0, [&] { window_->dispatchCommand(kCmdStart); });
    ASSERT_TRUE(testing::spinUntil([&] { return window_->recordingState() == 1; }, 3000));
    testing::spinUntil([] { return false; }, 8000); // the countdown, then recording
    QSignalSpy exit(window_.get(), &MainWindow::exitRequested);
    window_->close();
    EXPECT_FALSE(window_->isVisible()) << "closed while recording: hidden";
    EXPECT_EQ(window_->recordingState(), 1) << "and still recording";
    EXPECT_EQ(exit.count(), 0);
    end.answerNext(15000, QMessageBox::No);
    window_->dispatchCommand(kCmdPause);
    EXPECT_EQ(window_->recordingState(), 2);
    window_->dispatchCommand(kCmdStop);
    EXPECT_TRUE(end.seen);
    EXPECT_EQ(window_->recordingState(), 3);
    EXPECT_TRUE(window_->isVisible()) << "back at the end of the recording";
    const std::string file = window_->fileBoxText().toStdString();
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    const std::string probe = "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + file + "'";
    FILE* p = ::popen(probe.c_str(), "r");
    char out[256] = {};
    const size_t n = p ? std::fread(out, 1, sizeof out - 1, p) : 0;
    if (p)
        ::pclose(p);
    EXPECT_EQ(std::string(out, n), "h264\naac\n");
}

} // namespace quillet::desktop
