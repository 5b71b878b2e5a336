#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/cli/CliHost.h"
#include "app/cli/Commands.h"
#include "app/cli/RecordOptions.h"
#include "app/cli/SettingsNotices.h"
#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "audio/input/AudioPlatform.h"
#include "base/TickClock.h"
#include "capture/x11/X11Screen.h"
#include "engine/OutputType.h"
#include "engine/RecordSettings.h"
#include "engine/session/DiskFullText.h"
#include "engine/session/RecordingSession.h"
#include "engine/session/StatusText.h"

namespace quillet::cli {
namespace {

std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_pauseToggle{false};

extern "C" void onStopSignal(int) { g_stopRequested = true; }
extern "C" void onPauseSignal(int) { g_pauseToggle = true; }

void installSignals()
{
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // A closed terminal (SIGHUP), a reader of our output gone (SIGPIPE) and
    // Ctrl+\ (SIGQUIT) would each end the process with the file unfinished;
    // they finalise it like Ctrl+C instead.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
        sigaction(sig, &sa, nullptr);
    sa.sa_handler = onPauseSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    // A file-size limit then fails the write, which ends the recording like a
    // full disk, instead of killing the process with the file unfinished.
    signal(SIGXFSZ, SIG_IGN);
}

// The folder part of a path, "./" for a bare name.
std::string folderOf(const std::string& file)
{
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}

// Message keys that mean the recording failed or ended early.
bool endedInFailure(const std::string& shownKeys)
{
    for (const char* key : {"fileErr", kDiskFullKey, "xLost", "xStuck", "startErr", "h264Err", "audioErr", "typeErr"})
        if (shownKeys.find(std::string(key) + " ") != std::string::npos)
            return true;
    return false;
}

// The main window's format list index for a file's output type.
int formatIndexForType(OutputType type)
{
    switch (type) {
    case OutputMp4: return 0;
    case OutputFlv: return 1;
    case OutputAvi: return 2;
    case OutputWmv: return 3;
    case OutputSwf: return 4;
    case OutputImages: return 5;
    default: return -1;
    }
}

int formatIndexForExtension(const std::string& ext)
{
    for (int i = 0; i < kFormatCount; ++i)
        if (ext == formatExtension(i, 0))
            return i;
    return ext == "png" ? 5 : -1;
}

// Wait for sound buffers this long at most per loop turn (ms): short enough
// for commands and signals to feel immediate.
constexpr int kLoopWaitMs = 50;
constexpr uint64_t kStatusPeriodMs = 1000;
// A recording whose frames stop arriving still ends this long after its
// wall-clock duration (ms).
constexpr uint64_t kDurationGraceMs = 5000;

} // namespace

int runRecord(int argc, char** argv)
{
    RecordOptions opt;
    std::string error;
    if (!parseRecordOptions(argc - 1, argv + 1, &opt, &error)) {
        std::fprintf(stderr, "quillet-cli record: %s\n%s", error.c_str(), recordUsage());
        return 2;
    }
    if (opt.help) {
        std::fputs(recordUsage(), stdout);
        return 0;
    }

    const AppPaths paths = AppPaths::detect();
    paths.createSettingsFolder();
    SettingsFile settings(paths.settingsFile, paths.defaultOutputFolder);
    Language language(paths.languageFolder, paths.languageSelectionFile);
    language.load();

    installSignals();
    CliHost host(language, opt.yes, opt.countdown, &g_stopRequested);

    X11Screen screen;
    if (!screen.open(opt.display.empty() ? nullptr : opt.display.c_str(), X11Screen::kOpenTimeoutMs,
                     &g_stopRequested)) {
        if (screen.openProblem() == X11OpenProblem::Cancelled) {
            std::fprintf(stderr, "quillet-cli record: cancelled, nothing was recorded\n");
            return kExitCancelled;
        }
        const std::string name = screen.sourceName();
        const std::string why = screen.openProblem() == X11OpenProblem::NoAnswer
                                    ? formatWithTexts(host.messageText("xNoAnswer"),
                                                      {name, std::to_string(X11Screen::kOpenTimeoutMs / 1000)})
                                    : formatWithTexts(host.messageText("xNoDisplay"),
                                                      {name, screen.openReason().empty() ? std::string("refused")
                                                                                         : screen.openReason()});
        host.showMessage("startErr", host.messageText("startErr") + "\r\n" + why);
        return kExitFailed;
    }

    SessionEnvironment env;
    env.screen = &screen;
    // The benchmark's view of the video thread (see TickTrace).
    if (const char* trace = std::getenv("QUILLET_TICK_TRACE"))
        env.tickTracePath = trace;
    AudioSystemInfo info;
    std::string soundError;
    if (!queryAudioSystem(info, soundError))
        std::fprintf(stderr, "quillet-cli record: no sound server (%s)\n", soundError.c_str());
    env.sources.build(info);
    std::unique_ptr<AudioInput> soundInput = createAudioInput();
    env.soundInput = soundInput.get();
    env.lookbackCall = env.sources.offersComputerSound() ? platformLookbackCall() : nullptr;

    RecordSettings rs;
    SettingRepairs repairs;
    rs.load(settings.store(), env.sources.sourceCount(), &repairs);
    for (const std::string& line : settingRepairTexts(repairs, language))
        host.showMessage("badSetting", line);
    if (opt.quality >= 0)
        rs.qualityLevel = opt.quality;
    if (opt.fps > 0)
        rs.framesPerSecond = static_cast<uint8_t>(opt.fps);
    if (opt.sound >= 0)
        rs.recordSound = opt.sound != 0;
    if (opt.source >= 0) {
        if (opt.source > env.sources.sourceCount()) {
            std::fprintf(stderr, "quillet-cli record: there is no sound source %d (see quillet-cli devices)\n",
                         opt.source);
            return 2;
        }
        rs.audioSourceIndex = opt.source;
    }
    if (opt.hasArea)
        rs.captureArea = opt.area;
    rs.outputFileName = opt.output;

    int formatIndex = settings.formatIndex();
    if (!opt.format.empty()) {
        formatIndex = formatIndexForExtension(opt.format);
        if (formatIndex < 0) {
            std::fprintf(stderr, "quillet-cli record: unknown format \"%s\"\n", opt.format.c_str());
            return 2;
        }
    }
    const bool explicitFile = !opt.output.empty();
    if (explicitFile)
        formatIndex = formatIndexForType(outputTypeForFileName(opt.output));
    std::string outputFolder = settings.outputFolder();
    if (!explicitFile) {
        const OutputFolderChoice folder = settings.usableOutputFolder();
        if (folder.problem != OutputFolderChoice::None)
            host.showMessage("badFolder", folderProblemText(folder, language));
        outputFolder = folder.folder;
    }
    const std::string formatName =
        formatIndex >= 0 ? language.lookupMessage("Typ" + std::to_string(formatIndex + 1)) : std::string("Quillet");
    if (explicitFile) {
        const std::string folder = folderOf(opt.output);
        noticeUnfinishedRecordings(folder, folder + opt.output.substr(opt.output.rfind('/') + 1));
    } else {
        noticeUnfinishedRecordings(outputFolder, std::string());
    }

    RecordingSession session(host, std::move(env));
    if (!session.start(rs, formatName, explicitFile, outputFolder, formatIndex < 0 ? 0 : formatIndex)) {
        if (session.lastStartCancelled() || g_stopRequested.load()) {
            std::fprintf(stderr, "quillet-cli record: cancelled, nothing was recorded\n");
            return kExitCancelled;
        }
        return kExitFailed;
    }
    const int fps = session.counters().framesPerSecond;
    const uint64_t started = tickMs();
    uint64_t nextStatus = started + kStatusPeriodMs;
    uint64_t pausedMs = 0, pausedAt = 0;

    while (session.state() != RecordingSession::Stopped) {
        AudioInputEvent ev;
        if (host.mailbox().wait(kLoopWaitMs, ev)) {
            if (ev.kind == AudioInputEvent::BufferDone)
                session.onAudioChunk(ev.input, ev.buffer);
            else if (ev.kind == AudioInputEvent::Moved)
                session.onAudioMoved(ev.input, ev.device);
            else
                session.onAudioFailed(ev.input);
        }
        int command = 0;
        while (host.takeCommand(&command)) {
            if (command == kCommandStop)
                session.stop();
            else if (command == kCommandPause)
                session.pause();
            else if (command == kCommandStart)
                session.start(rs, formatName, explicitFile, outputFolder, formatIndex);
        }
        if (session.state() == RecordingSession::Stopped)
            break;
        const uint64_t now = tickMs();
        if (g_stopRequested.exchange(false)) {
            session.stop();
            break;
        }
        if (g_pauseToggle.exchange(false)) {
            if (session.state() == RecordingSession::Recording) {
                session.pause();
                pausedAt = now;
            } else {
                session.start(rs, formatName, explicitFile, outputFolder, formatIndex);
                pausedMs += now - pausedAt;
            }
        }
        if (now >= nextStatus) {
            session.onStatusTimer();
            nextStatus += kStatusPeriodMs;
            if (nextStatus <= now)
                nextStatus = now + kStatusPeriodMs;
        }
        if (opt.seconds > 0 && session.state() == RecordingSession::Recording) {
            const bool recordedEnough =
                session.counters().framesCounted >= static_cast<uint32_t>(opt.seconds) * static_cast<uint32_t>(fps);
            const bool wallOver = now - started - pausedMs >= uint64_t(opt.seconds) * 1000 + kDurationGraceMs;
            if (recordedEnough || wallOver)
                session.stop();
        }
    }
    host.endStatusLine();
    const RecordingSession::Counters c = session.counters();
    std::printf("frames: %u produced for %u frame slots (%.1f%%), sound: %llu ms\n", c.framesEncoded,
                c.framesCounted, c.framesCounted ? 100.0 * c.framesEncoded / c.framesCounted : 0.0,
                static_cast<unsigned long long>(c.audioMs));
    std::printf("file: %s\n", session.outputFileName().c_str());
    if (session.stopWaitOverruns() > 0)
        std::fprintf(stderr, "quillet-cli record: a worker thread ended late at stop\n");
    const int code = endedInFailure(host.shownKeys()) ? kExitFailed : kExitFinished;
    if (session.abandonedWorkers()) {
        // The file is final. The stuck thread and the screen's connection
        // (whose close would wait for the frozen server as well) are left to
        // the end of the process.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    return code;
}

} // namespace quillet::cli
