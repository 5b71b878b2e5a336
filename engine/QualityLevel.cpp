#include "engine/QualityLevel.h"

namespace quillet {
namespace {
constexpr QualityLevelRow kRows[kQualityLevelCount] = {
    {1000, 8000, 72, 1393, 25, 30, 50},
    {2000, 11025, 104, 1393, 50, 60, 100},
    {3000, 16000, 108, 0, 75, 80, 150},
    {5000, 16000, 180, 0, 85, 90, 220},
    {7000, 16000, 252, 1393, 95, 0, 400},
};
} // namespace

int clampQualityLevel(int level)
{
    return level < 0 ? 0 : (level > 4 ? 4 : level);
}

const QualityLevelRow& qualityLevelRow(int level)
{
    return kRows[clampQualityLevel(level)];
}

int h264BitrateKbps(int width, int height, int qualityLevel)
{
    return (width + height) * qualityLevelRow(qualityLevel).videoBitrateFactor / 1120;
}

int wmvBitrate(int width, int height, int qualityLevel)
{
    return ((width + height) * qualityLevelRow(qualityLevel).videoBitrateFactor / 560) * 1000;
}

} // namespace quillet
