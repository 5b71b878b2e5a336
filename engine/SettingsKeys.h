#pragma once

// Sections, keys and defaults of the settings file ("Data.ini").
namespace quillet::keys {

inline constexpr const char* kScreen = "screen";
inline constexpr const char* kQuillet = "Quillet";
inline constexpr const char* kHotKey = "HotKey";

// "screen"
inline constexpr const char* kQuality = "audio2";  // quality level, default 2, clamped 0..4
inline constexpr int kQualityDefault = 2;
inline constexpr const char* kFps = "fps"; // frames per second, default 15
inline constexpr int kFpsDefault = 15;
inline constexpr const char* kHideWhileRecording = "min"; // default 0
inline constexpr const char* kNoTrayIcon = "hide"; // read by the settings window only, never written
inline constexpr const char* kFormatIndex = "Sel3"; // format list index, default 0

// "Quillet"
inline constexpr const char* kRecordSound = "a"; // default 1
inline constexpr const char* kAudioSource = "ad"; // default 0, clamped 0..source count
inline constexpr const char* kOutputFolder = "path"; // default: the platform's video folder + "Screen/"
inline constexpr const char* kTip = "tip"; // settings window check box, default 0

// "HotKey"
inline constexpr const char* kHotKeysOn = "use"; // default 1
inline constexpr const char* kHotKeyStart = "k1"; // "F8"
inline constexpr const char* kHotKeyPause = "k2"; // "F9"
inline constexpr const char* kHotKeyStop = "k3"; // "F10"
inline constexpr const char* kHotKeyPen = "k4"; // "F11"

} // namespace quillet::keys
