#pragma once

#include "engine/outputs/MediaOutput.h"

namespace quillet {

// The outputs whose pictures carry the cursor (MP4, FLV, WMV, images):
// drawCursorIn draws the job's cursor into the capture picture and brings
// the output picture up to date; takeCursorOut puts back what was under it,
// so the grabber's pictures stay cursor-free. Without a cursor in the job
// only the output picture is brought up to date.
void drawCursorIn(VideoFrameJob& job);
void takeCursorOut(VideoFrameJob& job);

} // namespace quillet
