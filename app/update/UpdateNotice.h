#pragma once
#include <QDialog>
#include <QString>
#include <string>

#include "app/update/UpdateConfig.h"

class QLabel;

namespace quillet {
class Language;

// What the About window's update button shows.
struct UpdateOffer {
    bool offered = false; // the page names a newer version than ours
    QString buttonText;   // "update2" followed by that version; empty when not offered
};

// The hidden update notice window. Create it hidden as a child of the main
// window when the main window initialises, then call start(). One second later
// it fetches the configured update page with one plain HTTP/1.0 GET (name
// lookup off the UI thread, the socket on the UI thread; nothing blocks), reads
// the newest version from the page's title and keeps the page's body as the
// news text. Results are announced through trayCallback(), which the main
// window treats like its tray callback message:
//   (4445, 1)   the news arrived: an open About window refreshes its offer;
//   (4445, 102) the page asks for an upgrade (the main window ignores it).
// A failure shows nothing and is not retried until the next program start.
// Everything here runs on the UI thread.
class UpdateNotice : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTrayCallbackFirst = 4445;
    static constexpr int kNewsArrived = 1;
    static constexpr int kUpgradeRequested = 102;

    UpdateNotice(QWidget* parent, UpdateConfig config);
    ~UpdateNotice() override;

    // Shows the kept news text when there is one; otherwise, when a host is
    // configured, arms the one-second timer that starts the check. Calling it
    // again while a check runs does nothing.
    void start();

    // The version after "Max:" in the page's title; empty until a page arrived.
    const std::string& newestVersion() const { return newestVersion_; }
    // The page's body as received (the label shows a safe subset of its HTML).
    const std::string& newsText() const { return newsText_; }
    const UpdateConfig& config() const { return config_; }

    // For the About window, when it opens and on (4445, 1): whether the newest
    // version sorts above ours (byte-wise) and the button text to show.
    UpdateOffer aboutOffer(const Language& language) const;
    // The About window's update button was pressed while an offer was shown.
    // Returns 1 when the About window should close; the notice then also
    // announces (4445, 102). Returns 0 (nothing to do) otherwise.
    int acceptOffer();

    // Whether a check is armed or running (timer, name lookup or request).
    bool checking() const;

signals:
    void trayCallback(int first, int second);

private:
    class Check;

    void beginLookup();
    void addressResolved(const std::string& address);
    void requestProgress(int code);
    void pageArrived();
    void endCheck();
    void showNews();

    UpdateConfig config_;
    std::string newestVersion_;
    std::string newsText_;
    QLabel* newsLabel_ = nullptr;
    Check* check_ = nullptr; // a child object; present while a check is armed or runs
    bool attempted_ = false; // one check per run, whatever its outcome
};

} // namespace quillet
