#include "app/desktop/Startup.h"

int main(int argc, char** argv)
{
    return quillet::desktop::runDesktopProgram(argc, argv);
}
