#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "tests/app/update/UpdateReplyExercise.h"

#ifndef QUILLET_UPDATE_CORPUS_DIR
#error "QUILLET_UPDATE_CORPUS_DIR names the folder of hostile and good replies"
#endif

namespace quillet {
namespace {
namespace fs = std::filesystem;
using test::ReplyEnd;

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void exerciseEveryWay(const std::string& name, const std::string& reply)
{
    for (uint32_t seed : {0u, 1u, 3u, 7u, 12u, 16u}) {
        for (ReplyEnd end : {ReplyEnd::kOrderlyClose, ReplyEnd::kReset, ReplyEnd::kStillOpen}) {
            std::string failure;
            EXPECT_EQ(test::exerciseUpdateReply(reply, seed, end, &failure), 1)
                << name << " seed " << seed << " end " << static_cast<int>(end) << ": " << failure;
        }
    }
    std::string failure;
    EXPECT_EQ(test::exerciseUpdateBytes(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), &failure), 1)
        << name << ": " << failure;
}

TEST(UpdateReplyCorpus, EveryStoredReplyKeepsTheBoundsWhateverItsPieces)
{
    int files = 0;
    for (const auto& entry : fs::directory_iterator(QUILLET_UPDATE_CORPUS_DIR)) {
        exerciseEveryWay(entry.path().filename().string(), readAll(entry.path()));
        ++files;
    }
    EXPECT_GE(files, 10) << "corpus folder " << QUILLET_UPDATE_CORPUS_DIR;
}

TEST(UpdateReplyCorpus, LargeAndPathologicalReplies)
{
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    // A 10 MB body, with and without a length, and a header that never ends.
    exerciseEveryWay("10 MB body", ok + std::string(10 << 20, 'a'));
    exerciseEveryWay("10 MB declared", "HTTP/1.0 200 OK\r\nContent-Length: 10485760\r\n\r\n" + std::string(1 << 20, 'b'));
    exerciseEveryWay("endless header", "HTTP/1.0 200 OK\r\n" + std::string(1 << 20, 'h'));
    // Just below the limit: markup full of unclosed tags and quotes, which a
    // careless reader would scan again and again.
    std::string tags;
    while (tags.size() < 60000)
        tags += "<a '<font \"";
    exerciseEveryWay("unclosed tags", ok + "<body>" + tags);
    std::string every;
    for (int i = 0; i < 256; ++i)
        every += static_cast<char>(i);
    exerciseEveryWay("every byte", ok + "<title>Max:" + every + "</title><BODY >" + every + every);
}

} // namespace
} // namespace quillet
