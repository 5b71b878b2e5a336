#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/player/media/AvPictureReader.h"
#include "app/player/media/AvSoundReader.h"
#include "app/player/media/ImageSequence.h"
#include "app/player/media/MediaReaders.h"
#include "app/player/media/RecordingReaders.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace quillet::player {

namespace {

std::string containerName(const AVFormatContext* f)
{
    const std::string name = f->iformat ? f->iformat->name : "";
    if (name.find("mp4") != std::string::npos)
        return "MP4";
    if (name == "flv")
        return "FLV";
    if (name == "asf")
        return "WMV";
    if (name == "avi")
        return "AVI";
    return f->iformat && f->iformat->long_name ? f->iformat->long_name : name;
}

int openImages(const ImageSequence& seq, OpenedMedia& out, std::string& error)
{
    auto reader = std::make_unique<ImageSequenceReader>(seq);
    if (!reader->open(error))
        return 0;
    out.info.format = seq.extension == "png" || seq.extension == "PNG" ? "PNG images" : "JPEG images";
    out.info.width = reader->width();
    out.info.height = reader->height();
    out.info.durationMs = seq.durationMs;
    out.info.details = std::to_string(seq.files.size()) + " images " + seq.baseName + "_*." + seq.extension;
    if (seq.durationMs > 0)
        out.info.framesPerSecond = double(seq.files.size()) * 1000.0 / double(seq.durationMs);
    if (!seq.timed && seq.files.size() > 1)
        out.notes.push_back(seq.folder + ": the images carry no times of their own; one a second is shown");
    if (seq.otherSequences > 0)
        out.notes.push_back(seq.folder + ": the folder holds " + std::to_string(seq.otherSequences + 1) +
                            " image recordings; playing the latest, " + seq.baseName);
    out.pictures = std::move(reader);
    return 1;
}

int openWithLibav(const std::string& path, OpenedMedia& out, std::string& error)
{
    auto pictures = std::make_unique<AvPictureReader>();
    if (!pictures->open(path, error)) {
        if (error.empty())
            error = path + ": holds no pictures";
        return 0;
    }
    const AvInput& in = pictures->input();
    out.info.format = containerName(in.format());
    out.info.width = in.codec()->width;
    out.info.height = in.codec()->height;
    out.info.durationMs = in.declaredDurationMs();
    const AVRational rate = av_guess_frame_rate(in.format(), in.stream(), nullptr);
    if (rate.num > 0 && rate.den > 0)
        out.info.framesPerSecond = av_q2d(rate);
    out.info.details = std::string(avcodec_get_name(in.codec()->codec_id)) + " " + std::to_string(out.info.width) +
                       "x" + std::to_string(out.info.height);
    auto sound = std::make_unique<AvSoundReader>();
    std::string soundError;
    if (sound->open(path, soundError)) {
        out.info.sound = sound->format();
        out.info.details += ", " + sound->codecName() + " " + std::to_string(out.info.sound.sampleRate) + " Hz " +
                            std::to_string(out.info.sound.channels) + " ch";
        out.sound = std::move(sound);
    } else if (!soundError.empty()) {
        out.notes.push_back(soundError + "; playing the pictures alone");
    }
    out.pictures = std::move(pictures);
    return 1;
}

} // namespace

int openMedia(const std::string& path, OpenedMedia& out, std::string& error)
{
    out = OpenedMedia{};
    out.info.path = path;
    error.clear();
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(path, ec);
    ImageSequence seq;
    if (folder || !std::filesystem::exists(path, ec)) {
        if (findImageSequence(path, seq))
            return openImages(seq, out, error);
        error = folder ? path + ": the folder holds no numbered JPEG or PNG images"
                       : path + ": no such file";
        return 0;
    }
    uint8_t head[16] = {};
    size_t got = 0;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    } else {
        error = path + ": cannot be read";
        return 0;
    }
    if (isScreenRecording(path, head, got))
        return openScreenRecording(path, out, error);
    // One numbered image stands for its whole sequence.
    if ((std::memcmp(head, "\xFF\xD8", 2) == 0 || std::memcmp(head, "\x89PNG", 4) == 0) &&
        findImageSequence(path, seq))
        return openImages(seq, out, error);
    return openWithLibav(path, out, error);
}

} // namespace quillet::player
