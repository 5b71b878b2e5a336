#include "engine/outputs/FlvOutput.h"
#include "engine/outputs/ImageOutput.h"
#include "engine/outputs/Mp4Output.h"
#include "engine/outputs/SwfOutput.h"
#include "engine/outputs/MediaOutputFactory.h"

namespace quillet {

std::unique_ptr<MediaOutput> createMediaOutput(OutputType type)
{
    switch (type) {
    case OutputMp4: return std::make_unique<Mp4Output>();
    case OutputFlv: return std::make_unique<FlvOutput>();
    case OutputImages: return std::make_unique<ImageOutput>();
    case OutputSwf: return std::make_unique<SwfOutput>();
    default: return nullptr; // AVI, WMV and the own record file have no writer yet
    }
}

} // namespace quillet
