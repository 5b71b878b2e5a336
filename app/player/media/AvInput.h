#pragma once
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace quillet::player {

// One libavformat handle on a media file with the decoder of one of its
// streams. Times are converted to milliseconds from the recording's start
// (the container's earliest stream start), so that the pictures and the sound
// of a file, read through two handles, share one time line.
class AvInput {
public:
    enum class Want { Video, Audio };

    AvInput() = default;
    ~AvInput();
    AvInput(const AvInput&) = delete;
    AvInput& operator=(const AvInput&) = delete;

    // Opens the file and the decoder of its first stream of the wanted kind;
    // the other streams are discarded unread. Returns 1, or 0 with error.
    // A file without such a stream gives 0 with an empty error.
    int open(const std::string& path, Want want, std::string& error);

    AVFormatContext* format() const { return format_; }
    AVStream* stream() const { return stream_; }
    AVCodecContext* codec() const { return codec_; }
    int streamIndex() const { return streamIndex_; }

    // INT64_MIN for a missing time.
    int64_t toUs(int64_t streamTs) const;
    int64_t toMs(int64_t streamTs) const;
    int64_t toStreamTs(int64_t ms) const;
    // The file's declared length in ms (0 when it does not say).
    int64_t declaredDurationMs() const;

    // Decodes the next frame of the stream into frame. Returns 1, or 0 at the
    // end; a read error other than the file's end sets readError.
    int decode(AVFrame* frame);
    // Seeks to the key frame at or before ms and empties the decoder.
    int seek(int64_t ms);

    const std::string& readError() const { return readError_; }
    // Packets of the stream the decoder refused.
    int badPackets() const { return badPackets_; }
    // Byte offset of the last packet read (-1 when unknown).
    int64_t lastPacketPos() const { return lastPos_; }

private:
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    int streamIndex_ = -1;
    int64_t originUs_ = 0;
    bool drained_ = false;   // the demuxer ended; the decoder is being emptied
    std::string path_;
    std::string readError_;
    int badPackets_ = 0;
    int64_t lastPos_ = -1;
};

// libavutil's text for an error code.
std::string avErrorText(int code);

} // namespace quillet::player
