#include "engine/outputs/CursorBurnIn.h"

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"

namespace quillet {

void drawCursorIn(VideoFrameJob& job)
{
    if (job.cursor) {
        job.cursor->updateForBurnIn(job.cursorSerial);
        job.cursor->burnIn(*job.grabber);
    }
    job.grabber->scaleToOutput();
}

void takeCursorOut(VideoFrameJob& job)
{
    if (job.cursor)
        job.cursor->restore(*job.grabber);
}

} // namespace quillet
