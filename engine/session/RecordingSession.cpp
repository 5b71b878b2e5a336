#include "engine/session/RecordingSession.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "audio/AudioEncoder.h"
#include "audio/aac/AacLcEncoder.h"
#include "audio/input/AudioBuffer.h"
#include "audio/input/AudioInput.h"
#include "audio/input/CaptureBufferSize.h"
#include "audio/input/WaveFormatRecord.h"
#include "base/MulDiv.h"
#include "capture/FrameGrabber.h"
#include "capture/ScreenSource.h"
#include "engine/QualityLevel.h"
#include "engine/outputs/MediaOutputFactory.h"
#include "engine/session/AudioPacing.h"
#include "capture/CursorOverlay.h"
#include "engine/session/DiskFullText.h"
#include "engine/session/FileProblem.h"
#include "engine/session/FramePacing.h"
#include "engine/session/SessionClock.h"
#include "engine/session/StartRules.h"
#include "engine/session/StatusText.h"
#include "engine/session/SwfPacing.h"

namespace quillet {
namespace {

// Bounded waits of the stop path (ms).
constexpr uint32_t kVideoThreadWaitMs = 10000;
constexpr uint32_t kLoopbackThreadWaitMs = 1000;
// Compressed sound of one captured buffer.
constexpr size_t kAudioOutBufferBytes = 64000;
// The grabber takes layered windows into its copies.
constexpr uint8_t kGrabberFlags = FrameGrabber::kFlagLayeredWindows;

bool hasExtension(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
}

} // namespace

RecordingSession::RecordingSession(SessionHost& host, SessionEnvironment env)
    : host_(host), env_(std::move(env)), clock_(env_.clock ? env_.clock : &SteadySessionClock::instance()),
      trace_(env_.tickTracePath)
{
    if (!env_.outputFactory)
        env_.outputFactory = createMediaOutput;
}

RecordingSession::~RecordingSession()
{
    if (state_.load() != Stopped) {
        exiting_ = true;
        stop();
    }
}

int RecordingSession::fail(const char* key, const char* builtin, const std::string& detail)
{
    releaseAll();
    state_ = Stopped;
    framesPerSecond_ = storedFramesPerSecond_;
    std::string text = host_.messageText(key, builtin);
    if (!detail.empty())
        text += "\r\n" + detail;
    host_.showMessage(key, text);
    return 0;
}

int RecordingSession::cancelStart()
{
    // The writer created its file before the countdown; a recording that
    // never started leaves none.
    if (output_) {
        output_->close(0, framesPerSecond_);
        output_.reset();
    }
    std::error_code ec;
    std::filesystem::remove(fileName_, ec);
    releaseAll();
    state_ = Stopped;
    framesPerSecond_ = storedFramesPerSecond_;
    lastStartCancelled_ = true;
    host_.stateChanged(Stopped);
    host_.showMessage("recCancel", host_.messageText("recCancel"));
    return 0;
}

void RecordingSession::releaseAll()
{
    if (output_) {
        output_->close(framesCounted_, framesPerSecond_);
        output_.reset();
    }
    if (soundInputOpen_ && env_.soundInput) {
        env_.soundInput->stop();
        soundInputOpen_ = false;
    }
    if (compressor_) {
        compressor_->close();
        compressor_.reset();
    }
    if (loopbackActive_ && env_.lookbackCall) {
        env_.lookbackCall(nullptr, kLookbackStop);
        loopbackActive_ = false;
    }
    cursor_.reset();
    if (grabber_) {
        grabber_->release();
        grabber_.reset();
    }
    audioOutBuffer_.clear();
    audioOutBuffer_.shrink_to_fit();
    scratch_.clear();
    scratch_.shrink_to_fit();
}

int RecordingSession::start(const RecordSettings& settings, const std::string& formatName, bool explicitFile,
                            const std::string& outputFolder, int formatIndex)
{
    const State s = state_.load();
    if (s == Recording)
        return 1;
    if (s == Paused) {
        {
            SessionGuard g(lock_);
            startTick_ = static_cast<int64_t>(clock_->nowMs()) - frameTimestampMs(framesCounted_, framesPerSecond_);
        }
        state_ = Recording;
        wake_.notify();
        host_.stateChanged(Recording);
        return 1;
    }

    // Fresh counters for a new recording.
    lastStartCancelled_ = false;
    endCause_ = EndCause::None;
    soundEnded_ = false;
    framesEncoded_ = 0;
    bytesSinceKey_ = 0;
    soundLevel_ = 0;
    soundFailed_ = false;
    lastEndMessage_.clear();
    qualityLevel_ = clampQualityLevel(settings.qualityLevel);
    storedFramesPerSecond_ = settings.framesPerSecond < 1 ? 1 : settings.framesPerSecond;
    recordSound_ = settings.recordSound;
    useDefaultDeviceInsteadOfLoopback_ = settings.useDefaultDeviceInsteadOfLoopback;

    if (explicitFile && !settings.outputFileName.empty()) {
        fileName_ = settings.outputFileName;
    } else {
        const std::time_t t = std::time(nullptr);
        std::tm local{};
        localtime_r(&t, &local);
        fileName_ = defaultOutputName(outputFolder, local, formatExtension(formatIndex, qualityLevel_));
    }

    // The rate the recording really runs at is the one the confirmation
    // names: a stored 30 runs at 25 (the 40-ms period), SWF at 12.
    outputType_ = outputTypeForFileName(fileName_);
    framesPerSecond_ = workingFrameRate(storedFramesPerSecond_, outputType_ == OutputSwf);

    // Confirmation. The desktop's compositor cannot be switched off from
    // here, so the Yes/No/Cancel variant that offers it is not used.
    const MessageLookup lookup = [this](const char* key) { return host_.messageText(key); };
    const std::string text = confirmationText(formatName, fileName_, recordSound_, framesPerSecond_, lookup);
    if (host_.confirm(text, host_.messageText("start"), ConfirmKind::OkCancel) != ConfirmAnswer::Yes) {
        framesPerSecond_ = storedFramesPerSecond_;
        lastStartCancelled_ = true;
        return 0;
    }
    target_ = buildAudioTargetFormat(qualityLevel_, outputType_);
    capture_ = captureFormatFor(target_);
    const bool withSound = recordSound_ && outputType_ != OutputImages;

    // A type whose writer does not exist ends the start before anything is
    // opened, rather than leaving an empty file behind.
    output_ = env_.outputFactory(outputType_);
    if (!output_)
        return fail(kTypeUnavailableKey, kTypeUnavailableText);

    if (!env_.screen)
        return fail("startErr");
    Rect area{};
    switch (adjustCaptureArea(settings.captureArea, env_.screen->logicalWidth(), env_.screen->logicalHeight(),
                              &area)) {
    case AreaResult::Bad: return fail("startErr");
    case AreaResult::WholeScreen: area = Rect{}; break;
    case AreaResult::Ok: break;
    }

    host_.recordingAreaChosen(area);
    grabber_ = std::make_unique<FrameGrabber>(*env_.screen, [this] { return clock_->nowMs(); });
    if (!grabber_->init(area, kGrabberFlags, hasExtension(fileName_)))
        return fail("startErr");

    cursor_ = std::make_unique<CursorOverlay>(*env_.screen);
    // Where the cursor travels beside the picture, its position is scaled as
    // the picture is; burnt in, it is drawn before scaling.
    if (outputType_ == OutputSwf)
        cursor_->setScale(grabber_->width(), grabber_->captureWidth());
    else
        cursor_->setScale(1, 1);
    cursor_->setArea(grabber_->captureArea());
    cursorSerial_ = 0;

    audioOutBuffer_.assign(kAudioOutBufferBytes, 0);
    soundFed_ = false;
    {
        SessionGuard g(lock_);
        sound_ = SoundClock{};
        sound_.bytesPerSecond = capture_.avgBytesPerSecond ? capture_.avgBytesPerSecond : 1;
        sound_.channels = capture_.channels;
    }

    if (withSound)
        chunkFrames_ = captureBufferFrames(outputType_, capture_.sampleRate, framesPerSecond_);
    // A writer that codes the sound itself needs no sound coder.
    if (withSound && !output_->takesPcm()) {
        compressor_ = std::make_unique<AudioEncoder>();
        const Mp3Framing framing = (outputType_ == OutputFlv || outputType_ == OutputSwf)
                                       ? Mp3Framing::FlushEachBuffer
                                       : Mp3Framing::Continuous;
        // MP4 takes only AAC frames: an MP3 fallback would never play there.
        if (!compressor_->open(capture_, target_, framing) || (outputType_ == OutputMp4 && !compressor_->isAac()))
            return fail("audioErr");
        const int need = compressor_->maxOutputBytes(static_cast<int>(chunkFrames_ * capture_.blockAlign * 2));
        if (need > 0 && static_cast<size_t>(need) > audioOutBuffer_.size())
            audioOutBuffer_.assign(static_cast<size_t>(need), 0);
    }

    OutputOpenParams params;
    params.fileName = fileName_;
    params.width = grabber_->width();
    params.height = grabber_->height();
    params.bitsPerPixel = grabber_->bitsPerPixel();
    params.framesPerSecond = framesPerSecond_;
    params.qualityLevel = qualityLevel_;
    params.sound = withSound;
    params.target = target_;
    params.capture = capture_;
    params.audioDelaySamples = compressor_ ? compressor_->outputDelaySamples() : 0;
    const char* failureKey = "fileErr";
    if (!output_->open(params, &failureKey)) {
        // Say why: a missing folder, no permission, the system's reason.
        std::string why;
        if (std::strcmp(failureKey, "fileErr") == 0)
            why = fileProblemText(fileName_, [this](const char* key) { return host_.messageText(key); });
        return fail(failureKey, nullptr, why);
    }

    {
        SessionGuard g(lock_);
        framesCounted_ = 0;
        keyFrameCount_ = 0;
        framesSinceKey_ = framesPerSecond_ * kKeyFrameSeconds - 1;
    }
    state_ = Recording;
    host_.stateChanged(Recording);

    host_.showCountdown();
    if (host_.countdownCancelled())
        return cancelStart();
    {
        SessionGuard g(lock_);
        startTick_ = static_cast<int64_t>(clock_->nowMs());
    }

    if (withSound) {
        const bool computerSound = env_.sources.isComputerSound(settings.audioSourceIndex);
        loopbackActive_ = false;
        if (computerSound && env_.lookbackCall) {
            uint8_t record[WaveFormatRecord::kSize];
            WaveFormatRecord::fromCapture(capture_).write(record);
            loopbackActive_ = env_.lookbackCall(record, kLookbackStart) != 0;
        }
        scratch_.assign(static_cast<size_t>(chunkFrames_) * capture_.blockAlign * 2, 0);
        const std::string device = env_.sources.deviceForIndex(env_.sources.clampIndex(settings.audioSourceIndex));
        // The device as the user knows it, with the system's name for it.
        const std::string named = device.empty() ? env_.sources.defaultDeviceName() : device;
        soundDeviceLabel_ = device.empty() ? host_.messageText("audio1") : device;
        if (device.empty() && !named.empty())
            soundDeviceLabel_ += " (" + named + ")";
        soundInputOpen_ = env_.soundInput &&
                          env_.soundInput->open(host_.soundListener(), chunkFrames_, &capture_, device) != 0;
        if (!soundInputOpen_) {
            soundFailed_ = true;
            if (loopbackActive_ && loopbackThread_.start([this] { loopbackThreadMain(); }))
                soundFailed_ = false;
        }
    }
    std::string soundFailure;
    if (soundFailed_ && env_.soundInput)
        soundFailure = soundDeviceLabel_ + ": " + env_.soundInput->lastError();

    trace_.clear();
    videoThreadHeld_ = env_.runVideoThread;
    if (env_.runVideoThread && !videoThread_.start([this] { videoThreadMain(); })) {
        videoThreadHeld_ = false;
        state_ = Stopped;
        loopbackThread_.join();
        return fail("startErr");
    }

    if (soundFailed_ && mainWindowVisible_)
        host_.showMessage("audioErr2", host_.messageText("audioErr2") +
                                           (soundFailure.empty() ? std::string() : "\r\n" + soundFailure));
    return 1;
}

int RecordingSession::pause()
{
    State expected = Recording;
    if (!state_.compare_exchange_strong(expected, Paused))
        return 0;
    wake_.notify();
    host_.stateChanged(Paused);
    return 1;
}

int RecordingSession::stop()
{
    if (state_.load() == Stopped && !output_)
        return 0;
    state_ = Stopped;
    wake_.notify();

    // Both waits are bounded: a worker stuck in a call that never returns
    // (a frozen X server) cannot hold the stop, and the file is finalised
    // without it.
    const bool videoEnded = videoThread_.waitFor(kVideoThreadWaitMs) != 0;
    if (!videoEnded)
        ++stopWaitOverruns_;
    videoThreadHeld_ = false;
    const bool loopbackEnded = loopbackThread_.waitFor(kLoopbackThreadWaitMs) != 0;
    if (!loopbackEnded)
        ++stopWaitOverruns_;
    if (!videoEnded || !loopbackEnded) {
        abandonStuckWorkers();
        return 1;
    }

    flushSound();
    uint32_t counted = 0, encoded = 0;
    bool outputFailed = false;
    int files = -1;
    std::string firstFile, lastFile;
    OutputFailure failure;
    {
        SessionGuard g(lock_);
        counted = framesCounted_;
        encoded = framesEncoded_;
        if (output_) {
            output_->close(framesCounted_, framesPerSecond_);
            outputFailed = output_->failed();
            files = output_->writtenFiles(&firstFile, &lastFile);
            failure = output_->failureDetails();
            output_.reset();
        }
    }
    releaseAll();
    trace_.write();
    soundLevel_ = 0;
    host_.stateChanged(Stopped);
    const int usedRate = framesPerSecond_;
    // The working rate (capped at 25, SWF at 12) goes back to the stored setting.
    framesPerSecond_ = storedFramesPerSecond_;

    if (exiting_)
        return 1;
    if (endCause_.load() == EndCause::ScreenLost) {
        std::string why;
        env_.screen->connectionLost(&why);
        host_.showMessage("xLost", formatWithTexts(host_.messageText("xLost"), {env_.screen->sourceName(), why}));
    }
    const MessageLookup lookup = [this](const char* key) { return host_.messageText(key); };
    if (outputFailed && failure.outOfSpace)
        host_.showMessage(kDiskFullKey, diskFullText(failure.fileName, failure.keptMs, failure.keptImages, lookup));
    else if (outputFailed)
        host_.showMessage("fileErr", host_.messageText("fileErr"));
    showEnd(encoded, counted, usedRate, files, firstFile, lastFile);
    return 1;
}

void RecordingSession::showEnd(uint32_t encoded, uint32_t counted, int usedRate, int writtenFiles,
                               const std::string& firstFile, const std::string& lastFile)
{
    const MessageLookup lookup = [this](const char* key) { return host_.messageText(key); };
    // Numbered images exist only where something changed: name what was
    // written, and never offer a file that is not there.
    if (writtenFiles == 0) {
        lastEndMessage_ = lookup("imgNone");
        host_.showMessage("imgNone", lastEndMessage_);
        return;
    }
    std::string shown = fileName_;
    if (writtenFiles > 0)
        shown = formatWithTexts(lookup("imgSaved"), {std::to_string(writtenFiles), firstFile, lastFile});
    lastEndMessage_ = endMessageText(encoded, counted, shown, usedRate, lookup);
    if (host_.confirm(lastEndMessage_, host_.messageText("recEnd2"), ConfirmKind::YesNo) == ConfirmAnswer::Yes)
        host_.playRecording(fileName_, outputType_ == OutputImages);
}

void RecordingSession::abandonStuckWorkers()
{
    abandoned_ = true;
    // From here on the lock stays with this thread for good: the stuck worker,
    // should its call ever return, stops at its next writer call or at the
    // end of its loop, and never reaches the finalised file. The lock is
    // re-entrant, so this thread keeps working with it.
    lock_.lock();
    flushSound();
    uint32_t counted = framesCounted_, encoded = framesEncoded_;
    int files = -1;
    std::string firstFile, lastFile;
    if (output_) {
        output_->close(framesCounted_, framesPerSecond_);
        files = output_->writtenFiles(&firstFile, &lastFile);
    }
    // What the worker may still be inside stays allocated: the writer and its
    // coder, the grabber and the cursor (releasing them would also call into
    // the frozen server). The process ends soon after.
    (void)output_.release();
    (void)grabber_.release();
    (void)cursor_.release();
    if (soundInputOpen_ && env_.soundInput) {
        env_.soundInput->stop();
        soundInputOpen_ = false;
    }
    videoThread_.abandon();
    loopbackThread_.abandon();
    trace_.write();
    soundLevel_ = 0;
    host_.stateChanged(Stopped);
    const int usedRate = framesPerSecond_;
    framesPerSecond_ = storedFramesPerSecond_;
    if (exiting_)
        return;
    host_.showMessage("xStuck", formatWithTexts(host_.messageText("xStuck"),
                                                {env_.screen ? env_.screen->sourceName() : std::string()}));
    showEnd(encoded, counted, usedRate, files, firstFile, lastFile);
}

RecordingSession::Counters RecordingSession::counters()
{
    SessionGuard g(lock_);
    Counters c;
    c.framesCounted = framesCounted_;
    c.framesEncoded = framesEncoded_;
    c.keyFrameCount = keyFrameCount_;
    c.audioMs = sound_.audioMs;
    c.audioBytes = sound_.audioBytes;
    c.startTick = startTick_;
    c.framesPerSecond = framesPerSecond_;
    c.soundLevel = soundLevel_.load();
    c.soundFailed = soundFailed_;
    c.outputFailed = output_ && output_->failed();
    return c;
}

void RecordingSession::requestStopFromWorker()
{
    // Workers never stop the session themselves: no further frame is taken,
    // and the host runs the normal stop path.
    State expected = Recording;
    state_.compare_exchange_strong(expected, Paused);
    host_.postCommand(kCommandStop);
}

void RecordingSession::videoThreadMain()
{
    // The ticks keep the recording's own time: anchored where frame slot 0
    // begins, the first tick still fires at once and its lateness (the time
    // the start took since then) is absorbed like any other, so later ticks
    // fall on the slots' own times. There a tick a few milliseconds early or
    // late rounds to the same slot, and a picture's stamp is when it was
    // taken; ticks anchored anywhere else sit nearer a rounding edge.
    int64_t anchor = 0;
    {
        SessionGuard g(lock_);
        anchor = startTick_;
    }
    const uint64_t now0 = clock_->nowMs();
    VideoPacer pacer(framesPerSecond_, anchor > 0 && static_cast<uint64_t>(anchor) <= now0 ? anchor : now0);
    while (state_.load() != Stopped) {
        const uint64_t now = clock_->nowMs();
        if (!pacer.due(now)) {
            // Asleep until the tick is due, to the millisecond: a wake-up
            // polled in steps starts ticks up to a step late, and that
            // lateness on top of a slow tick makes the rounded slot count
            // skip. Stop and pause cut the sleep short.
            clock_->sleepUntilMs(pacer.nextDueMs(), wake_);
            continue;
        }
        // A slow tick is followed at once by the next: no sleep after a tick.
        // While paused the pacer keeps its timing, and no frame is taken.
        if (state_.load() == Recording) {
            const uint32_t advance = frameTick();
            if (trace_.enabled())
                trace_.add(pacer.lastLatenessMs(), static_cast<uint32_t>(clock_->nowMs() - now), advance);
        }
    }
    // Passes at once, unless the stop gave up on this thread (it then holds
    // the lock for good, and the thread stops here).
    { SessionGuard gate(lock_); }
    if (videoThreadHeld_.load())
        host_.postNotice(kNoticeVideoThreadEnded, 0);
}

uint32_t RecordingSession::frameTick()
{
    if (state_.load() != Recording || !output_ || !grabber_)
        return 0;
    const uint64_t now = clock_->nowMs();
    uint32_t counted = 0; // before this frame
    uint32_t advance = 0;
    bool key = false;
    {
        SessionGuard g(lock_);
        SlotDecision d = decideFrameSlots(now, startTick_, framesCounted_, framesPerSecond_);
        if (d.kind == SlotDecision::ReAnchor)
            startTick_ = d.newStartTick;
        else if (outputType_ == OutputSwf &&
                 swfSoundClockRules(sound_.audioMs, static_cast<int64_t>(now) - startTick_, soundFailed_)) {
            bool held = false;
            d = swfSoundClockSlots(sound_.audioMs, framesCounted_, framesPerSecond_, &held);
            if (held)
                ++framesSinceKey_;
        }
        if (d.kind != SlotDecision::Frame)
            return 0;
        counted = framesCounted_;
        advance = d.target - counted;
        ++framesEncoded_;
        framesSinceKey_ += static_cast<int32_t>(advance);
        KeyFrameInputs in;
        in.bytesSinceKey = bytesSinceKey_;
        in.framesSinceKey = framesSinceKey_;
        in.framesPerSecond = framesPerSecond_;
        in.placedImageCount = output_->placedImageCount();
        key = isKeyFrame(in);
        if (key) {
            framesSinceKey_ = 0;
            bytesSinceKey_ = 0;
            ++keyFrameCount_;
        }
    }
    advance = std::min(advance, kMaxAdvance);

    // The current cursor shape; 0 (unknown) keeps the previous one.
    if (const uint64_t serial = env_.screen->cursorSerial())
        cursorSerial_ = serial;
    const bool captured = grabber_->capture(false) != 0;
    if (abandoned_.load()) {
        SessionGuard gate(lock_); // the stop gave up on this thread: it stops here
    }
    // A screen whose server went away ends the recording through the normal
    // stop, which finalises the file.
    if (env_.screen->connectionLost(nullptr)) {
        EndCause expected = EndCause::None;
        if (endCause_.compare_exchange_strong(expected, EndCause::ScreenLost))
            requestStopFromWorker();
        return 0;
    }
    if (!captured)
        return 0; // a failed capture loses only this tick
    cursor_->setArea(grabber_->captureArea()); // the area may have moved

    VideoFrameJob job;
    job.grabber = grabber_.get();
    job.cursor = cursor_.get();
    job.cursorSerial = cursorSerial_;
    job.lock = &lock_;
    job.framesCounted = counted;
    job.advance = advance;
    job.keyFrame = key;
    // A slot becomes due half a period before its time (due is rounded), so
    // the picture just captured is nearest to the slot after the count:
    // stamped with the count itself it would show one period before it was
    // taken, ahead of the sound captured with it.
    job.timestampMs = frameTimestampMs(counted + 1, framesPerSecond_);
    job.endTimestampMs = frameTimestampMs(counted + advance + 1, framesPerSecond_);
    output_->videoFrame(job);

    bool writerFailed = false;
    {
        SessionGuard g(lock_);
        bytesSinceKey_ += job.codedBytes;
        framesCounted_ += advance;
        writerFailed = output_->failed();
        // Raw sound written with the picture sets the sound clock, and the
        // video clock follows it as it does when coded sound arrives.
        if (job.soundWritten) {
            sound_.audioBytes = job.soundBytes;
            sound_.audioMs = audioMsForBytes(job.soundBytes, sound_.bytesPerSecond);
            startTick_ = pullBackStartTick(now, startTick_, sound_.audioMs);
        }
    }
    // A writer that failed (disk full) keeps what it had; recording on into
    // nothing would only hide the loss until the end.
    if (job.requestStop || writerFailed)
        requestStopFromWorker();
    return job.produced ? advance : 0;
}

void RecordingSession::moveCaptureArea(int32_t left, int32_t top)
{
    if (grabber_ && state_.load() != Stopped)
        grabber_->moveArea(left, top);
}

void RecordingSession::onAudioChunk(AudioInput* input, AudioBuffer* buffer)
{
    if (!input || !buffer)
        return;
    uint8_t* data = input->releaseBuffer(buffer);
    if (!data)
        return; // a notification that outlived its recorder
    const uint32_t bytes = std::min(buffer->bytesRecorded, buffer->bufferLength);
    handleChunk(data, bytes, true);
    input->requeueBuffer(buffer);
}

void RecordingSession::onAudioFailed(AudioInput* input)
{
    if (state_.load() == Stopped)
        return;
    soundFailed_ = true;
    soundEnded_ = true;
    {
        // No sound comes any more: the video keeps its own clock, and the
        // file's length is the time really recorded.
        SessionGuard g(lock_);
        if (output_)
            output_->soundEnded();
    }
    const std::string why = input ? input->lastError() : std::string();
    if (mainWindowVisible_)
        host_.showMessage("devLost", formatWithTexts(host_.messageText("devLost"), {soundDeviceLabel_, why}));
}

void RecordingSession::onAudioMoved(AudioInput*, const std::string& device)
{
    if (state_.load() == Stopped)
        return;
    if (mainWindowVisible_)
        host_.showMessage("devMoved", formatWithTexts(host_.messageText("devMoved"), {soundDeviceLabel_, device}));
    soundDeviceLabel_ = device;
}

void RecordingSession::handleChunk(uint8_t* data, uint32_t bytes, bool fromDevice)
{
    (void)fromDevice;
    bool recording = state_.load() == Recording;
    if (recording) {
        SessionGuard g(lock_);
        recording = framesCounted_ > 0 && output_ && (compressor_ || output_->takesPcm());
    }
    if (!recording) {
        // Sound before the first frame or during a pause is not stored; the
        // computer-sound source is still drained so it does not fall behind.
        if (loopbackActive_ && env_.lookbackCall && bytes > 0)
            env_.lookbackCall(data, static_cast<int32_t>(bytes));
        return;
    }
    const uint64_t now = clock_->nowMs();

    if (loopbackActive_ && env_.lookbackCall) {
        if (useDefaultDeviceInsteadOfLoopback_.load()) {
            if (scratch_.size() < bytes)
                scratch_.resize(bytes);
            env_.lookbackCall(scratch_.data(), static_cast<int32_t>(bytes));
        } else {
            const int32_t got = env_.lookbackCall(data, static_cast<int32_t>(bytes));
            if (got > 0 && static_cast<uint32_t>(got) <= bytes)
                bytes = static_cast<uint32_t>(got);
            else
                std::memset(data, 0, bytes);
        }
    }

    soundLevel_ = soundLevel(data, bytes);
    if (output_->takesPcm()) {
        // The video thread writes it with the next picture.
        if (bytes > 0)
            soundFed_ = true;
        SessionGuard g(lock_);
        output_->soundPcm(data, bytes);
        return;
    }

    // The sound track starts where the pictures do, at the recording's start:
    // sound that came before the first picture was not stored, and a device
    // may take long (seconds, even) to deliver its first sound. The first
    // sound stored is put at its real time behind silence, instead of at 0,
    // ahead of the pictures (at 2 frames per second by half a second), or of
    // pulling the video clock back over the pictures already written.
    uint64_t silence = 0;
    if (compressor_->isAac()) {
        SessionGuard g(lock_);
        silence = lateStartSilenceBytes(now, bytes);
    }
    if (silence > 0) {
        std::vector<uint8_t> quiet(std::min<uint64_t>(silence, chunkFrames_ * capture_.blockAlign), 0);
        for (uint64_t left = silence; left > 0;) {
            const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(left, quiet.size()));
            std::fill(quiet.begin(), quiet.end(), 0);
            encodeAndStore(quiet.data(), piece, now, false);
            left -= piece;
        }
    }
    encodeAndStore(data, bytes, now, true);
}

uint64_t RecordingSession::lateStartSilenceBytes(uint64_t now, uint32_t bytes) const
{
    if (sound_.audioBytes != 0 || soundFed_.load())
        return 0;
    const int64_t elapsed = static_cast<int64_t>(now) - startTick_;
    const int64_t bufferMs = static_cast<int64_t>(audioMsForBytes(bytes, sound_.bytesPerSecond));
    const int64_t gapMs = elapsed - bufferMs;
    if (gapMs <= 0)
        return 0;
    // Whole sample frames; the encoder carries a part-filled AAC frame over.
    const uint64_t align = capture_.blockAlign ? capture_.blockAlign : 1;
    const uint64_t gapBytes = mulDivU64(static_cast<uint64_t>(gapMs), sound_.bytesPerSecond, 1000);
    return gapBytes / align * align;
}

void RecordingSession::encodeAndStore(uint8_t* data, uint32_t bytes, uint64_t now, bool pullBack)
{
    if (bytes > 0)
        soundFed_ = true;
    const int compressed = compressor_->encode(data, audioOutBuffer_.data(), static_cast<int>(bytes),
                                               static_cast<int>(audioOutBuffer_.size()));
    const bool aac = compressor_->isAac();

    SessionGuard g(lock_);
    // With AAC the frames themselves advance the clock, so bytes the encoder
    // keeps back for the next buffer are counted when their frame comes out.
    // A failed encode still advances it, so the sound track keeps its length.
    const bool walkFrames = aac && compressed >= 0;
    sound_.audioMs = audioMsForBytes(sound_.audioBytes + bytes, sound_.bytesPerSecond);
    if (!walkFrames)
        sound_.audioBytes += bytes;
    if (pullBack)
        startTick_ = pullBackStartTick(now, startTick_, sound_.audioMs);
    if (!walkFrames) {
        if (compressed > 0 && output_->takesSound())
            framesCounted_ += output_->soundMp3Buffer(audioOutBuffer_.data(), static_cast<size_t>(compressed), bytes,
                                                      sound_.audioMs);
        return;
    }
    storeAacRecords(compressed);
}

void RecordingSession::storeAacRecords(int compressed)
{
    const uint64_t frameBytes = static_cast<uint64_t>(aacChunkBytes(sound_.channels));
    // Cleared vectors keep their room, so a steady recording allocates nothing.
    aacEnd_.clear();
    aacDuration_.clear();
    const int units = forEachAacUnit(audioOutBuffer_.data(), static_cast<size_t>(compressed),
                                     [&](const uint8_t*, size_t) {
                                         sound_.audioBytes += frameBytes;
                                         sound_.audioMs = audioMsForBytes(sound_.audioBytes, sound_.bytesPerSecond);
                                         aacEnd_.push_back(static_cast<uint32_t>(sound_.audioMs));
                                         aacDuration_.push_back(
                                             static_cast<uint32_t>(sound_.audioMs - sound_.lastFrameEndMs));
                                         sound_.lastFrameEndMs = sound_.audioMs;
                                     });
    if (units == 0)
        sound_.audioMs = audioMsForBytes(sound_.audioBytes, sound_.bytesPerSecond);
    else if (output_->takesSound())
        output_->soundAac(audioOutBuffer_.data(), static_cast<size_t>(compressed), aacEnd_.data(),
                          aacDuration_.data(), units);
}

void RecordingSession::flushSound()
{
    // A recording that never got sound keeps a file without a sound track.
    if (!compressor_ || !output_ || audioOutBuffer_.empty() || !soundFed_)
        return;
    {
        SessionGuard g(lock_);
        if (framesCounted_ == 0 || !output_->takesSound())
            return;
    }
    // The encoder keeps back a partial chunk and, for AAC, the last 2048
    // samples it was given; without this the end of the sound would be lost.
    const int compressed = compressor_->finish(audioOutBuffer_.data(), static_cast<int>(audioOutBuffer_.size()));
    if (compressed <= 0)
        return;
    SessionGuard g(lock_);
    if (compressor_->isAac())
        storeAacRecords(compressed);
    else
        output_->soundMp3(audioOutBuffer_.data(), static_cast<size_t>(compressed), sound_.audioMs);
}

void RecordingSession::loopbackThreadMain()
{
    LoopbackPacer pacer(chunkFrames_, capture_.sampleRate, capture_.avgBytesPerSecond, capture_.blockAlign,
                        clock_->nowMs());
    clock_->sleepMs(20);
    const uint32_t chunkBytes = pacer.chunkBytes();
    std::vector<uint8_t> buffer(static_cast<size_t>(chunkBytes) * 2, 0);
    if (env_.lookbackCall) {
        // Whatever the source collected before now is stale.
        env_.lookbackCall(buffer.data(), static_cast<int32_t>(chunkBytes));
        env_.lookbackCall(buffer.data(), static_cast<int32_t>(chunkBytes));
    }
    while (state_.load() != Stopped) {
        if (pacer.poll(clock_->nowMs())) {
            std::memset(buffer.data(), 0, buffer.size());
            handleChunk(buffer.data(), chunkBytes, false);
        }
        if (pacer.sleepAfterMs() > 0)
            clock_->sleepMs(pacer.sleepAfterMs());
    }
    { SessionGuard gate(lock_); } // see videoThreadMain
}

void RecordingSession::onStatusTimer()
{
    if (state_.load() == Stopped)
        return;
    uint32_t counted = 0;
    {
        SessionGuard g(lock_);
        counted = framesCounted_;
    }
    const uint32_t s = recordedSeconds(counted, framesPerSecond_);
    host_.showStatus(elapsedText(s), statusTrayIcon(s), soundLevel_.load());
}

void RecordingSession::onNotice(int wparam, int)
{
    // The video thread announces its end; the stop path has already collected
    // it (or is about to), so there is nothing left to forget here.
    (void)wparam;
}

} // namespace quillet
