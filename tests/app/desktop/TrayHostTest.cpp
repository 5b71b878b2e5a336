#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/core/Language.h"
#include "tests/app/desktop/DesktopDriver.h"

namespace quillet::desktop {
using testing::DesktopDriver;

// A StatusNotifier host as desktops with such a tray run it: the watcher
// service that tray icons register with.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items_;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service)
    {
        items_ << service;
        emit StatusNotifierItemRegistered(service);
    }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString&) {}

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();
};

namespace {

bool spin(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// A private session bus for the test and the program.
struct SessionBus {
    SessionBus()
    {
        FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        char line[512];
        if (p && std::fgets(line, sizeof line, p))
            address = QString::fromLocal8Bit(line).trimmed();
        if (p && std::fgets(line, sizeof line, p))
            pid = std::atoi(line);
        if (p)
            ::pclose(p);
    }
    ~SessionBus()
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
    QString address;
    int pid = 0;
};

} // namespace

class TrayHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("QUILLET_TEST_ENV") || !std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)";
        ASSERT_FALSE(bus_.address.isEmpty()) << "dbus-daemon did not start";
        connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus_.address, "tray-host"));
        ASSERT_TRUE(connection_->isConnected());
        ASSERT_TRUE(connection_->registerObject("/StatusNotifierWatcher", &watcher_,
                                                QDBusConnection::ExportScriptableContents |
                                                    QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(connection_->registerService("org.kde.StatusNotifierWatcher"));
        d_.extraEnvironment = {"DBUS_SESSION_BUS_ADDRESS=" + bus_.address.toStdString()};
    }
    // A method call or property read on the program's tray item, as text.
    std::string call(const std::string& path, const std::string& method, const std::string& args = "")
    {
        return d_.shell("gdbus call --address '" + bus_.address.toStdString() + "' --dest " +
                        watcher_.items_.value(0).toStdString() + " --object-path " + path + " --method " + method +
                        " " + args);
    }
    std::string property(const std::string& name)
    {
        return call("/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                    "org.kde.StatusNotifierItem " + name);
    }
    // The menu's layout; returns the id of the item whose label starts with text.
    int menuItem(const std::string& layout, const std::string& text, bool* enabled = nullptr)
    {
        // Items read "(ID, {'label': <'TEXT'>, ... 'enabled': <false> ...}, [])".
        static const QRegularExpression item("\\((\\d+), \\{([^}]*)\\}");
        auto it = item.globalMatch(QString::fromStdString(layout));
        while (it.hasNext()) {
            const auto m = it.next();
            const QString props = m.captured(2);
            if (props.contains("'label': <'" + QString::fromStdString(text))) {
                if (enabled)
                    *enabled = !props.contains("'enabled': <false>");
                return m.captured(1).toInt();
            }
        }
        return -1;
    }

    SessionBus bus_;
    std::unique_ptr<QDBusConnection> connection_;
    Watcher watcher_;
    DesktopDriver d_{QUILLET_BUILD_BIN};
};

TEST_F(TrayHost, IconRegistersWithItsTipAndMenu)
{
    Language lang(d_.languageFolder.string() + "/");
    lang.load();
    const pid_t pid = d_.launch();
    ASSERT_TRUE(spin([&] { return !watcher_.items_.isEmpty(); }, 10000)) << "the icon never registered";

    EXPECT_NE(property("ToolTip").find("'" + lang.lookupMessage("iconTxt") + "'"), std::string::npos)
        << property("ToolTip");
    EXPECT_NE(property("Status").find("Active"), std::string::npos);
    EXPECT_NE(property("IconPixmap").find("(16, 16,"), std::string::npos) << "the icon's pictures are sent";

    // The item names its menu's object path.
    static const QRegularExpression objectPath("objectpath '([^']+)'");
    const std::string menuPath = objectPath.match(QString::fromStdString(property("Menu"))).captured(1).toStdString();
    ASSERT_FALSE(menuPath.empty()) << property("Menu");
    call(menuPath, "com.canonical.dbusmenu.AboutToShow", "0");
    const std::string layout = call(menuPath, "com.canonical.dbusmenu.GetLayout", "-- 0 -1 '@as []'");
    bool startOn = false, pauseOn = true;
    const std::string start = lang.lookupText("COMMAND", "M1000", nullptr);
    EXPECT_GE(menuItem(layout, start + "(F8)", &startOn), 0) << layout;
    EXPECT_GE(menuItem(layout, lang.lookupText("COMMAND", "M1001", nullptr), &pauseOn), 0) << layout;
    EXPECT_TRUE(startOn);
    EXPECT_FALSE(pauseOn) << "stopped: pause is greyed";

    // Show/Hide from the host's menu hides the window, a click on the icon
    // shows it again, Exit ends the program.
    const std::string title = "^" + lang.lookupText("Quillet", "Title", nullptr) + "$";
    ASSERT_FALSE(d_.waitWindow(title).empty());
    const int showHide = menuItem(layout, "Show/Hide");
    ASSERT_GE(showHide, 0) << layout;
    call(menuPath, "com.canonical.dbusmenu.Event", std::to_string(showHide) + " clicked '<0>' 0");
    EXPECT_TRUE(testing::waitUntil([&] { return !d_.windowVisible(title); }, 3000)) << "not hidden";
    call("/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", "0 0");
    EXPECT_FALSE(d_.waitWindow(title, 3000).empty()) << "a click on the icon shows the window";

    const int exit = menuItem(layout, lang.lookupText("COMMAND", "M32771", nullptr));
    ASSERT_GE(exit, 0);
    call(menuPath, "com.canonical.dbusmenu.Event", std::to_string(exit) + " clicked '<0>' 0");
    EXPECT_EQ(d_.waitExit(pid, 8000), 0);
}

} // namespace quillet::desktop

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "TrayHostTest.moc"
