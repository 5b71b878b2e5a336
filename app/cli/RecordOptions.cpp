#include "app/cli/RecordOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillet::cli {
namespace {

// Whole decimal number in [lo, hi]; no trailing text.
bool parseInt(const char* text, int lo, int hi, int* out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool parseArea(const char* text, Rect* out)
{
    int v[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        const char* comma = std::strchr(p, ',');
        const std::string part = comma ? std::string(p, comma) : std::string(p);
        if ((i < 3) != (comma != nullptr))
            return false;
        // Position may be negative (a screen left of the primary); sizes not.
        if (!parseInt(part.c_str(), i < 2 ? -100000 : 1, 100000, &v[i]))
            return false;
        p = comma ? comma + 1 : p;
    }
    *out = Rect{v[0], v[1], v[0] + v[2], v[1] + v[3]};
    return true;
}

} // namespace

const char* recordUsage()
{
    return "usage: quillet-cli record [options]\n"
           "  -o, --output FILE     file to write; its extension picks the format\n"
           "                        (mp4, flv, swf, wmv, avi, jpg, png; any other: the own record file);\n"
           "                        default: a dated name in the output folder\n"
           "      --format EXT      format of the dated name when -o is not given\n"
           "      --seconds N       stop after N seconds of recorded video (default: on Ctrl+C)\n"
           "      --area X,Y,W,H    record this rectangle instead of the whole screen\n"
           "      --fps N           frames per second (1..30; more than 25 runs at 25)\n"
           "      --quality N       quality level 0..4\n"
           "      --sound on|off    record sound\n"
           "      --source N        sound source index from \"quillet-cli devices\"\n"
           "      --countdown       count down five seconds before recording (default)\n"
           "      --no-countdown    start at once\n"
           "  -y, --yes             answer the confirmation with OK\n"
           "      --display NAME    X display (default: $DISPLAY)\n"
           "Ctrl+C, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE stops and finalises the file; Ctrl+C during the\n"
           "countdown cancels without leaving a file (exit code 3). SIGUSR1 pauses and resumes.\n";
}

int parseRecordOptions(int argc, char** argv, RecordOptions* out, std::string* error)
{
    auto value = [&](int& i, const char* name) -> const char* {
        if (i + 1 >= argc) {
            *error = std::string(name) + " needs a value";
            return nullptr;
        }
        return argv[++i];
    };
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = nullptr;
        if (!std::strcmp(a, "-o") || !std::strcmp(a, "--output")) {
            if (!(v = value(i, a)))
                return 0;
            out->output = v;
            if (out->output.empty()) {
                *error = "the output file name is empty";
                return 0;
            }
        } else if (!std::strcmp(a, "--format")) {
            if (!(v = value(i, a)))
                return 0;
            out->format = v;
        } else if (!std::strcmp(a, "--seconds")) {
            if (!(v = value(i, a)) || !parseInt(v, 1, 24 * 3600, &out->seconds)) {
                if (error->empty())
                    *error = "--seconds takes a number of seconds from 1 to 86400";
                return 0;
            }
        } else if (!std::strcmp(a, "--area")) {
            if (!(v = value(i, a)))
                return 0;
            if (!parseArea(v, &out->area)) {
                *error = "--area takes X,Y,W,H with a positive width and height";
                return 0;
            }
            out->hasArea = true;
        } else if (!std::strcmp(a, "--fps")) {
            if (!(v = value(i, a)) || !parseInt(v, 1, 30, &out->fps)) {
                if (error->empty())
                    *error = "--fps takes 1 to 30";
                return 0;
            }
        } else if (!std::strcmp(a, "--quality")) {
            if (!(v = value(i, a)) || !parseInt(v, 0, 4, &out->quality)) {
                if (error->empty())
                    *error = "--quality takes 0 to 4";
                return 0;
            }
        } else if (!std::strcmp(a, "--sound")) {
            if (!(v = value(i, a)))
                return 0;
            if (!std::strcmp(v, "on"))
                out->sound = 1;
            else if (!std::strcmp(v, "off"))
                out->sound = 0;
            else {
                *error = "--sound takes on or off";
                return 0;
            }
        } else if (!std::strcmp(a, "--source")) {
            if (!(v = value(i, a)) || !parseInt(v, 0, 1000, &out->source)) {
                if (error->empty())
                    *error = "--source takes an index from \"quillet-cli devices\"";
                return 0;
            }
        } else if (!std::strcmp(a, "--countdown")) {
            out->countdown = true;
        } else if (!std::strcmp(a, "--no-countdown")) {
            out->countdown = false;
        } else if (!std::strcmp(a, "-y") || !std::strcmp(a, "--yes")) {
            out->yes = true;
        } else if (!std::strcmp(a, "--display")) {
            if (!(v = value(i, a)))
                return 0;
            out->display = v;
        } else if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            out->help = true;
        } else {
            *error = std::string("unknown option \"") + a + "\"";
            return 0;
        }
    }
    return 1;
}

} // namespace quillet::cli
