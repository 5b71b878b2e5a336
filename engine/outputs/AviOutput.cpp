#include "engine/outputs/AviOutput.h"

#include "base/SessionLock.h"

namespace quillet {

using namespace records;

class AviOutput::PacketSink final : public RegionSink {
public:
    // keep: records left for the side data that follows the regions.
    PacketSink(AviPacketBuilder& packet, int keep) : packet_(packet), keep_(keep) {}
    uint8_t* room(size_t capacity) override
    {
        return packet_.records() + keep_ < kAviMaxRecords ? packet_.regionSpace(capacity) : nullptr;
    }
    int commit(const Rect& rect, size_t length) override { return packet_.commitRegion(rect, length); }

private:
    AviPacketBuilder& packet_;
    int keep_;
};

int AviOutput::open(const OutputOpenParams& params, const char** failureKey)
{
    sound_ = params.sound;
    keyNext_ = false;
    keyFrames_ = 0;
    repairKeyFrames_ = 0;
    if (!coder_.open(params)) {
        *failureKey = "startErr";
        return 0;
    }
    AviVideoFormat format;
    format.width = params.width;
    format.height = params.height;
    format.bitCount = 16;
    format.compression = avi::kScreenCodec;
    format.sizeImage = static_cast<uint32_t>(params.width) * static_cast<uint32_t>(params.height) * 2;
    uint8_t wave[AudioTargetFormat::kRecordSize];
    params.target.serialize(wave);
    if (!writer_.Open(params.fileName.c_str(), params.framesPerSecond, format, sound_ ? wave : nullptr,
                      sound_ ? sizeof wave : 0)) {
        *failureKey = "fileErr";
        return 0;
    }
    return 1;
}

void AviOutput::videoFrame(VideoFrameJob& job)
{
    // A frame after one that lost an area is a key frame, whatever the
    // session decided: until then the decoder's picture would stay wrong.
    const bool key = job.keyFrame || keyNext_;
    if (key && !job.keyFrame)
        ++repairKeyFrames_;
    coder_.beginFrame(job, key, true);
    packet_.begin();
    // With video on the screen, one record at least stays free for its side data.
    PacketSink sink(packet_, coder_.codec().natural ? 1 : 0);
    size_t regionBytes = 0;
    for (int i = 0; i < coder_.rectangleCount(); ++i)
        regionBytes += coder_.codeRectangle(i, sink);
    const int freeRecords = kAviMaxRecords - packet_.records();
    if (freeRecords > 0) {
        // The chunks must fit the records left: a chunk count of n holds
        // fewer than n × 64000 bytes.
        const size_t side = coder_.sideData(regionBytes, static_cast<size_t>(freeRecords) * kSideDataChunk - 1);
        if (side > 0)
            packet_.addSideData(coder_.sideDataBytes(), side);
    }
    const CursorUpdate& c = coder_.cursor();
    if (c.changed)
        packet_.setCursor(c.x, c.y, c.picture.data(), c.picture.size());
    keyNext_ = coder_.lost();

    const size_t length = packet_.finish(key);
    job.produced = true;
    job.codedBytes = static_cast<uint32_t>(length);
    if (key)
        ++keyFrames_;
    SessionGuard g(*job.lock);
    writer_.WriteVideo(packet_.data(), length, static_cast<int>(job.advance), key ? 16 : 0);
}

void AviOutput::soundMp3(const uint8_t* data, size_t length, uint64_t)
{
    writer_.WriteAudio(data, length);
}

int AviOutput::close(uint32_t, int)
{
    return writer_.IsOpen() ? writer_.Close() : 1;
}

} // namespace quillet
