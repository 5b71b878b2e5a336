#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::test {

enum class ReplyEnd { kOrderlyClose, kReset, kStillOpen };

// Plays reply to an HttpGetRequest as a server would (in pieces whose sizes
// follow chunkSeed), ends it as told, then reads and marks up whatever page
// came out, and checks what must hold for any input: the buffer bounds, its
// terminator, the states, a version fit for a button, news markup that is
// UTF-8 and holds only the allowed tags. Returns 1, or 0 with *failure set.
int exerciseUpdateReply(std::string_view reply, uint32_t chunkSeed, ReplyEnd end, std::string* failure);

// The fuzz entry's reading of raw bytes: the first two choose the pieces and
// the end, the rest is the reply. The whole input is also read as a page.
int exerciseUpdateBytes(const uint8_t* data, size_t size, std::string* failure);

} // namespace quillet::test
