#pragma once
#include <QIcon>

namespace quillet::desktop {

// The program's icons, drawn in code (no image files to ship): the
// application icon and its blink phase, the button icons and the two
// language flags. Unknown numbers give an empty icon.
QIcon programIcon(int iconId);

} // namespace quillet::desktop
