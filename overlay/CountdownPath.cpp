#include "overlay/CountdownPath.h"

namespace quillet {

CountdownPath::CountdownPath(const Rect& monitor)
{
    const int w = monitor.right - monitor.left;
    const int h = monitor.bottom - monitor.top;
    const int x = w / 2 - kSide / 2;
    const int y = h / 2 - kSide / 2;
    left_ = monitor.left + x;
    top_ = monitor.top + y;
    dx_ = (w - x - 100) / kFirstCount;
    dy_ = (h - y) / kFirstCount;
}

int CountdownPath::x(int counter) const { return left_ + (kFirstCount - counter) * dx_; }
int CountdownPath::y(int counter) const { return top_ + (kFirstCount - counter) * dy_; }

} // namespace quillet
