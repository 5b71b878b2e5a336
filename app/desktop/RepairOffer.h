#pragma once
#include <string>

class QWidget;

namespace quillet {
class Language;
}

namespace quillet::desktop {

// Recordings in `folder` that an earlier run left unfinished (killed, or the
// machine went down while it recorded) are offered for repair, once, at start:
// a Yes repairs each and says which now play and which could not be saved; a
// No leaves them for `quillet-cli repair`. Returns the number repaired.
int offerRepairOfUnfinished(QWidget* owner, const Language& language, const std::string& folder);

} // namespace quillet::desktop
