#include "app/desktop/RepairOffer.h"

#include <QApplication>
#include <QMessageBox>

#include "app/core/Language.h"
#include "app/desktop/MessageBoxes.h"
#include "engine/recovery/UnfinishedRecordings.h"
#include "engine/session/StatusText.h"

namespace quillet::desktop {

int offerRepairOfUnfinished(QWidget* owner, const Language& language, const std::string& folder)
{
    const std::vector<std::string> files = findUnfinishedRecordings(folder);
    if (files.empty())
        return 0;
    std::string question = formatWithInt(language.lookupMessage("recRepairAsk"), int(files.size()));
    for (const std::string& f : files)
        question += "\r\n" + f;
    const QString caption = QString::fromUtf8(language.messageCaption().c_str());
    if (askUser(owner, QMessageBox::Question, caption, displayText(question), QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes) != QMessageBox::Yes)
        return 0;

    int repaired = 0;
    std::string done;
    std::string failed;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const std::string& f : files) {
        RecordingRepairReport report;
        if (repairRecording(f, &report)) {
            ++repaired;
            done += "\r\n" + f + formatWithInt(language.lookupMessage("recDiskKept"), int(report.durationMs / 1000));
        } else {
            failed += "\r\n" + f + ": " + report.error;
        }
    }
    QApplication::restoreOverrideCursor();
    std::string text;
    if (!done.empty())
        text += language.lookupMessage("recRepairDone") + done;
    if (!failed.empty())
        text += (text.empty() ? "" : "\r\n\r\n") + language.lookupMessage("recRepairFail") + failed;
    showStandardMessage(owner, language, displayText(text));
    return repaired;
}

} // namespace quillet::desktop
