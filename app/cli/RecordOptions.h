#pragma once
#include <string>

#include "engine/ScreenFrame.h"

namespace quillet::cli {

// Options of "quillet-cli record". Unset options keep the settings file's values.
struct RecordOptions {
    std::string output;        // -o/--output FILE; empty: dated name in the output folder
    std::string format;        // --format mp4|flv|jpg|png|...: the extension of a dated name
    int seconds = 0;           // --seconds N; 0: until stopped
    bool hasArea = false;      // --area X,Y,W,H
    Rect area;                 // exclusive right and bottom
    int fps = 0;               // --fps N; 0: from the settings
    int quality = -1;          // --quality 0..4; -1: from the settings
    int sound = -1;            // --sound on|off; -1: from the settings
    int source = -1;           // --source N; -1: from the settings
    bool countdown = true;     // --countdown / --no-countdown
    bool yes = false;          // -y/--yes: answer the confirmation
    std::string display;       // --display NAME; empty: $DISPLAY
    bool help = false;
};

// Parses argv[0..argc) (the words after "record"). Returns 1, or 0 with
// *error describing the first bad option.
int parseRecordOptions(int argc, char** argv, RecordOptions* out, std::string* error);

const char* recordUsage();

} // namespace quillet::cli
