// libFuzzer entry for the update reply: request state machine, page reader
// and news markup.
#include <cstdio>
#include <string>

#include "tests/app/update/UpdateReplyExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string failure;
    if (!quillet::test::exerciseUpdateBytes(data, size, &failure)) {
        std::fprintf(stderr, "update reply check failed: %s\n", failure.c_str());
        __builtin_trap();
    }
    return 0;
}
