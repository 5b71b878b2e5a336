#include <cstdio>
#include <cstring>

#include "app/cli/Commands.h"

namespace {

void printUsage(FILE* out)
{
    std::fprintf(out,
                 "usage: quillet-cli COMMAND [options]\n"
                 "\n"
                 "commands:\n"
                 "  record      record the screen (and sound) into a file; record --help for options\n"
                 "  devices     list the sound sources with their indices\n"
                 "  convert     AVI or own record file to MP4 or PNG frames; FLV to MP4 and back\n"
                 "  info        show what a recording holds\n"
                 "  repair      finish recordings that were cut short; repair --help for options\n"
                 "  selfcheck   show where settings and language files are and check them\n"
                 "  help        show this text\n"
                 "\n"
                 "exit codes:\n"
                 "  0  done; a recording's file is complete\n"
                 "  1  failed, or a recording ended early (lost X display, full disk); what was\n"
                 "     recorded is kept in a complete file\n"
                 "  2  bad command line\n"
                 "  3  cancelled before recording began (confirmation refused, Ctrl+C during the\n"
                 "     countdown or while connecting): no file is left\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "selfcheck") == 0)
        return quillet::cli::runSelfCheck(argc - 1, argv + 1);
    if (std::strcmp(cmd, "record") == 0)
        return quillet::cli::runRecord(argc - 1, argv + 1);
    if (std::strcmp(cmd, "devices") == 0)
        return quillet::cli::runDevices(argc - 1, argv + 1);
    if (std::strcmp(cmd, "convert") == 0)
        return quillet::cli::runConvert(argc - 1, argv + 1);
    if (std::strcmp(cmd, "info") == 0)
        return quillet::cli::runInfo(argc - 1, argv + 1);
    if (std::strcmp(cmd, "repair") == 0)
        return quillet::cli::runRepair(argc - 1, argv + 1);
    if (std::strcmp(cmd, "help") == 0 || std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    std::fprintf(stderr, "quillet-cli: unknown command \"%s\"\n", cmd);
    printUsage(stderr);
    return 2;
}
