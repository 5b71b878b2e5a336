#include "app/desktop/StartupCommand.h"

#include "app/desktop/CommandIds.h"

namespace quillet::desktop {

StartupCommand parseStartupCommand(const std::vector<std::string>& args)
{
    StartupCommand c;
    if (args.size() == 2 && args[0] == "-language") {
        c.action = StartupAction::SetLanguage;
        c.language = args[1];
        return c;
    }
    if (args.size() != 1)
        return c;
    const std::string& a = args[0];
    if (a == "run")
        c.action = StartupAction::Run;
    else if (a == "end")
        c.action = StartupAction::End;
    else if (a == "exit")
        c.action = StartupAction::Exit;
    else if (a == "-remove")
        c.action = StartupAction::Remove;
    return c;
}

int commandForAction(StartupAction action)
{
    switch (action) {
    case StartupAction::Run: return kCmdStart;
    case StartupAction::End: return kCmdStop;
    case StartupAction::Exit:
    case StartupAction::Remove: return kCmdExit;
    default: return 0;
    }
}

} // namespace quillet::desktop
