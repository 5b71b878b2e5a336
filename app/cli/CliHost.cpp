#include "app/cli/CliHost.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/core/Language.h"
#include "base/BuiltinTexts.h"

namespace quillet::cli {
namespace {

// Width of the sound-level bar in the status line, in characters.
constexpr int kLevelBarWidth = 20;
constexpr int kCountdownSeconds = 5;

// Message texts carry Windows line ends; a terminal wants plain ones.
std::string terminalText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

} // namespace

CliHost::CliHost(const Language& language, bool autoYes, bool countdown, const std::atomic<bool>* interrupted)
    : language_(language), autoYes_(autoYes), countdown_(countdown), interrupted_(interrupted),
      statusOnTty_(isatty(STDOUT_FILENO) != 0)
{
}

void CliHost::postCommand(int commandId)
{
    std::lock_guard<std::mutex> g(mutex_);
    commands_.push_back(commandId);
}

void CliHost::postNotice(int, int)
{
    // The video thread's end notice needs no action here: the stop path has
    // already waited for it.
}

int CliHost::takeCommand(int* commandId)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (commands_.empty())
        return 0;
    *commandId = commands_.front();
    commands_.pop_front();
    return 1;
}

std::string CliHost::messageText(const char* key, const char* builtin)
{
    return language_.lookupMessage(key, builtin ? builtin : builtinMessage(key));
}

void CliHost::endStatusLine()
{
    if (statusLineOpen_) {
        std::fputc('\n', stdout);
        statusLineOpen_ = false;
    }
}

void CliHost::showMessage(const char* key, const std::string& text)
{
    endStatusLine();
    shownKeys_ += key;
    shownKeys_ += ' ';
    std::fprintf(stderr, "%s: %s\n", language_.messageCaption().c_str(), terminalText(text).c_str());
    std::fflush(stderr);
}

ConfirmAnswer CliHost::confirm(const std::string& text, const std::string& caption, ConfirmKind kind)
{
    endStatusLine();
    std::printf("[%s]\n%s\n", terminalText(caption).c_str(), terminalText(text).c_str());
    if (kind == ConfirmKind::YesNo) {
        // The end question offers a player; the command line only reports.
        std::printf("\n");
        std::fflush(stdout);
        return ConfirmAnswer::No;
    }
    if (autoYes_) {
        std::printf("\n");
        std::fflush(stdout);
        return ConfirmAnswer::Yes;
    }
    std::printf("\nStart recording? [y/N] ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return ConfirmAnswer::Cancel;
    return (answer == "y" || answer == "Y" || answer == "yes" || answer == "ok") ? ConfirmAnswer::Yes
                                                                                : ConfirmAnswer::Cancel;
}

void CliHost::showCountdown()
{
    if (!countdown_)
        return;
    for (int s = kCountdownSeconds; s > 0; --s) {
        if (interrupted_ && interrupted_->load())
            break;
        std::printf("%d...\n", s);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

void CliHost::showStatus(const std::string& elapsed, int, int soundLevel)
{
    char bar[kLevelBarWidth + 1];
    const int filled = soundLevel * kLevelBarWidth / 32768;
    for (int i = 0; i < kLevelBarWidth; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[kLevelBarWidth] = '\0';
    if (statusOnTty_) {
        std::printf("\r%s  sound [%s] %5d ", elapsed.c_str(), bar, soundLevel);
        statusLineOpen_ = true;
    } else {
        std::printf("%s  sound [%s] %5d\n", elapsed.c_str(), bar, soundLevel);
    }
    std::fflush(stdout);
}

void CliHost::stateChanged(int state)
{
    endStatusLine();
    const char* text = state == 1 ? "recording" : state == 2 ? "paused" : "stopped";
    std::printf("-- %s\n", text);
    std::fflush(stdout);
}

} // namespace quillet::cli
