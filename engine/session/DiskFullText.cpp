#include "engine/session/DiskFullText.h"

#include "engine/session/StatusText.h"

namespace quillet {

std::string diskFullText(const std::string& fileName, uint32_t keptMs, int keptImages, const MessageLookup& lookup)
{
    std::string text = lookup(kDiskFullKey);
    text += fileName;
    if (keptImages >= 0)
        text += formatWithInt(lookup("recDiskImages"), keptImages);
    else
        text += formatWithInt(lookup("recDiskKept"), int(keptMs / 1000));
    return text;
}

} // namespace quillet
