#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QToolButton>

#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/AboutWindow.h"
#include "app/desktop/Controls.h"
#include "app/desktop/FormatList.h"
#include "app/desktop/MainWindow.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/SettingsWindow.h"
#include "tests/app/desktop/WindowTestSupport.h"

namespace quillet::desktop {
using testing::ProgramFolder;

namespace {

// What a language key looks like when a lookup failed and showed it raw.
const QRegularExpression kRawKey(
    "^(T|M)\\d+$|^(ToolTip|Typ|ginfo|Code|FPS_)\\d+$|^(iconTxt|audio\\d|stop1|later1|range1|DEFAULTA|WAVEOUT|"
    "FULLSIZE|MAXSIZE)$");

QString textOf(const QWidget* w)
{
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

class RenderedTexts : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        QUILLET_NEEDS_DESKTOP();
        language_.writeSelection(GetParam());
        language_.load();
        ASSERT_EQ(language_.fileName(), GetParam());
    }
    // Every numbered control shows the file's text (or, where the file has
    // none, the window's own), never a raw key, and has room for it.
    void checkWindow(QWidget* window, const char* section)
    {
        window->show();
        testing::spinUntil([&] { return window->isVisible(); }, 2000);
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const int id = controlIdOf(w);
            const QString text = textOf(w);
            if (!w->toolTip().isEmpty()) {
                EXPECT_FALSE(kRawKey.match(w->toolTip()).hasMatch()) << w->toolTip().toStdString();
            }
            if (id == 0 || text.isNull())
                continue;
            SCOPED_TRACE(std::string(section) + "/T" + std::to_string(id) + " = " + text.toStdString());
            EXPECT_FALSE(kRawKey.match(text).hasMatch());
            const std::string fileText = language_.lookupText(section, "T" + std::to_string(id), nullptr);
            if (!fileText.empty() && id != 1050) { // 1050 has the version put in
                EXPECT_EQ(text, displayText(fileText));
            }
            auto* tool = qobject_cast<QToolButton*>(w);
            if (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
                continue; // shows its icon, the text is for tool tips and readers
            EXPECT_FALSE(text.trimmed().isEmpty());
            if (w->isVisible()) {
                EXPECT_GE(w->width(), w->sizeHint().width()) << "text cut off";
            }
        }
        window->hide();
    }
    void checkMenu(QMenu* menu)
    {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator())
                continue;
            EXPECT_FALSE(a->text().trimmed().isEmpty()) << commandIdOf(a);
            EXPECT_FALSE(kRawKey.match(a->text()).hasMatch()) << a->text().toStdString();
            const char* resource = resourceMenuText(commandIdOf(a));
            if (language_.fileName() == "english.ini" && resource) {
                EXPECT_NE(a->text(), QString::fromUtf8(resource)) << "English shows the resource text";
            }
        }
    }

    ProgramFolder folder_;
    SettingsFile settings_{folder_.paths.settingsFile, folder_.paths.defaultOutputFolder};
    Language language_{folder_.paths.languageFolder, folder_.paths.languageSelectionFile};
};

} // namespace

TEST_P(RenderedTexts, MainWindowMenusSettingsAndAbout)
{
    MainWindow main(folder_.paths, settings_, language_);
    checkWindow(&main, kMainCaption);

    auto* list = qobject_cast<FormatList*>(findControl(&main, 1031));
    ASSERT_EQ(list->count(), 6);
    const int room = list->view()->minimumWidth() - FormatList::kTextIndent;
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(list->itemText(i).toStdString(), language_.lookupMessage("Typ" + std::to_string(i + 1)));
        EXPECT_LE(list->fontMetrics().horizontalAdvance(list->itemText(i)), room) << i;
    }

    emit main.trayMenu()->aboutToShow();
    checkMenu(main.trayMenu());
    std::unique_ptr<QMenu> settingsMenu(main.buildSettingsMenu());
    checkMenu(settingsMenu.get());

    SettingsValues values;
    values.load(settings_.store(), 1);
    SettingsContext context;
    context.screenWidth = 1920;
    context.screenHeight = 1080;
    context.deviceNames = {"Microphone"};
    context.computerSound = true;
    SettingsWindow settings(language_, settings_, values, context, Rect{});
    checkWindow(&settings, kSetupCaption);
    EXPECT_EQ(settings.windowTitle().toStdString(), language_.lookupText(kSetupCaption, "Title", nullptr));

    AboutWindow about(language_, "0.1.0.0");
    checkWindow(&about, kAboutCaption);
    auto* version = qobject_cast<QLabel*>(findControl(&about, 1050));
    EXPECT_TRUE(version->text().contains("0.1.0.0")) << version->text().toStdString();
    EXPECT_FALSE(version->text().contains("5.--"));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, RenderedTexts, ::testing::Values("english.ini", "chinese.ini"));

} // namespace quillet::desktop
