#include "engine/outputs/AviOutput.h"
#include "engine/outputs/FlvOutput.h"
#include "engine/outputs/ImageOutput.h"
#include "engine/outputs/Mp4Output.h"
#include "engine/outputs/OwnRecordOutput.h"
#include "engine/outputs/SwfOutput.h"
#include "engine/outputs/MediaOutputFactory.h"
#include "engine/outputs/WmvOutput.h"

namespace quillet {

std::unique_ptr<MediaOutput> createMediaOutput(OutputType type)
{
    switch (type) {
    case OutputMp4: return std::make_unique<Mp4Output>();
    case OutputFlv: return std::make_unique<FlvOutput>();
    case OutputImages: return std::make_unique<ImageOutput>();
    case OutputAvi: return std::make_unique<AviOutput>();
    case OutputOwnRecord: return std::make_unique<OwnRecordOutput>();
    case OutputSwf: return std::make_unique<SwfOutput>();
    case OutputWmv: return std::make_unique<WmvOutput>();
    default: return nullptr;
    }
}

} // namespace quillet
