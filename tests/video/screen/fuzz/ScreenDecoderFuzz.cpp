// libFuzzer entry for the screen decoder (see ScreenFuzzInput.h).
#include "tests/video/screen/fuzz/ScreenFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quillet::fuzz::decode_fuzz_input(data, size);
    return 0;
}
