#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

namespace quillet {

// Seconds of recorded video: framesCounted / fps (repeated frames count, paused
// time does not).
uint32_t recordedSeconds(uint32_t framesCounted, int framesPerSecond);

// "MM:SS" below an hour, "HH:MM:SS" from one hour on.
std::string elapsedText(uint32_t seconds);

// Tray icon of the status timer: it blinks once per second while the count
// advances and stands still while paused.
constexpr int kTrayIconOdd = 128;
constexpr int kTrayIconEven = 134;
int statusTrayIcon(uint32_t seconds);

// The slow-capture warning applies when fewer than half of the frame slots
// were really produced. Returns the percentage to show, or -1 for no warning.
int slowCapturePercent(uint32_t framesEncoded, uint32_t framesCounted);

// Formats a language text with one integer argument ("%d", "%%"); any other
// conversion in the text is copied literally, so a language file can never
// make the program read arguments that were not passed.
std::string formatWithInt(const std::string& pattern, int value);

// Fills the "%s" (or "%d") places of a language text with texts, in order;
// "%%" is a percent sign. Places beyond the texts stay literal and surplus
// texts are dropped, so a language file can never make the program read
// arguments that were not passed.
std::string formatWithTexts(const std::string& pattern, std::initializer_list<std::string> texts);

} // namespace quillet
