#include "app/desktop/PlayerLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include "app/desktop/Controls.h"

namespace quillet::desktop {

bool PlayerLauncher::playerExists() const
{
    const QFileInfo info(fromUtf8(playerPath()));
    return info.isFile() && info.isExecutable();
}

int PlayerLauncher::play(const std::string& file) const
{
    const QString path = fromUtf8(file);
    if (playerExists())
        return QProcess::startDetached(fromUtf8(playerPath()), {path}, fromUtf8(programFolder_)) ? 1 : 0;
    return QProcess::startDetached(QString::fromLatin1(kOpener), {path}, fromUtf8(programFolder_)) ? 1 : 0;
}

int PlayerLauncher::openFolder(const std::string& folder) const
{
    return QProcess::startDetached(QString::fromLatin1(kOpener), {fromUtf8(folder)}, fromUtf8(programFolder_)) ? 1
                                                                                                              : 0;
}

} // namespace quillet::desktop
