#pragma once
#include <string>
#include <vector>

namespace quillet::desktop {

// What the command line asks for. Arguments are compared exactly (whole
// argument, case-sensitive); anything not listed starts the program normally.
enum class StartupAction {
    Normal,      // no arguments, or anything unknown
    SetLanguage, // "-language NAME" (exactly two arguments)
    Run,         // "run": start recording in the running instance
    End,         // "end": stop recording in the running instance
    Exit,        // "exit": end the running instance
    Remove,      // "-remove": end the running instance, delete the settings file
};

struct StartupCommand {
    StartupAction action = StartupAction::Normal;
    std::string language; // SetLanguage only
};

// args excludes the program name.
StartupCommand parseStartupCommand(const std::vector<std::string>& args);

// The command number a second start posts to the running instance for an
// action, or 0 when the action posts nothing (Normal asks the user instead).
int commandForAction(StartupAction action);

} // namespace quillet::desktop
