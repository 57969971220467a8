#include "network/dmx_channel_map.h"

#include "canvas/canvas.h"

namespace Spectrafox {

namespace {

// Block channels, counted from 1 as a lighting desk's patch shows them.
enum BlockChannel : int {
    kContent = 1,
    kAlpha = 2,
    kPositionX = 3,
    kPositionY = 4,
    kScalingX = 5,
    kScalingY = 6,
    kAngle = 7,
    kCopyCount = 8,
    kCircleAngle = 9,
    kZoom = 10,
    kRed = 11,
    kGreen = 12,
    kBlue = 13,
    kPlayMode = 14,
    kShutter = 15,
    kSpeed = 16,
    kCircleSpeed = 17,
    kPlaySpeed = 18,
    kPositionCoarse = 19,
    kPositionFine = 20,
};
// The highest channel of a block that is read.
constexpr int kLastReadChannel = kPositionFine;
constexpr uint8_t kSpeedStop = 127;
constexpr float kDeriveHeightFromContent = -1.0f;

float unit(uint8_t value)
{
    return static_cast<float>(value) / 255.0f;
}

} // namespace

DmxChannelMap::DmxChannelMap(int dmx_start_, float scale_multiplier_)
    : dmx_start(dmx_start_), scale_multiplier(scale_multiplier_)
{
}

void DmxChannelMap::apply(const Artnet::DmxUniverse& dmx512, const std::vector<Canvas*>& group,
                          float screen_ratio) const
{
    for (std::size_t i = 0; i < group.size(); ++i) {
        const uint8_t* block = blockFor(dmx512, i);
        if (block && group[i])
            applyBlock(block, *group[i], screen_ratio);
    }
}

// Returns a pointer such that block[k] is block channel k, or null when a
// channel the map reads would lie outside channels 1 to 512.
const uint8_t* DmxChannelMap::blockFor(const Artnet::DmxUniverse& dmx512,
                                       std::size_t canvas_index) const
{
    const long long first = static_cast<long long>(dmx_start) +
                            static_cast<long long>(kChannelsPerCanvas) *
                                static_cast<long long>(canvas_index);
    const long long last_read = first + kLastReadChannel - 1;
    if (first < 1 || last_read > Artnet::kDmxUniverseChannels)
        return nullptr;
    // Element 0 of the table is channel 1, so channel k of the block is
    // element first + k - 2.
    return dmx512.data() + (first - 2);
}

void DmxChannelMap::applyBlock(const uint8_t* block, Canvas& canvas, float ratio) const
{
    const float mult = scale_multiplier;
    canvas.setContentData(block[kContent]);
    canvas.setNumber(block[kCopyCount] / 4u);
    canvas.setZoom(static_cast<float>(block[kZoom]) * mult / 255.0f);
    canvas.setScalingX(static_cast<float>(block[kScalingX]) * mult / 255.0f);
    if (block[kScalingY] != 0)
        canvas.setScalingY(unit(block[kScalingY]) / ratio);
    else
        canvas.setScalingY(kDeriveHeightFromContent);
    canvas.setPositionX((static_cast<float>(block[kPositionX]) - 128.0f) * mult * 2.0f / 256.0f);
    canvas.setPositionY(((static_cast<float>(block[kPositionY]) - 128.0f) * mult * 2.0f / 256.0f) /
                        ratio);
    canvas.setR(unit(block[kRed]));
    canvas.setG(unit(block[kGreen]));
    canvas.setB(unit(block[kBlue]));
    canvas.setAlpha(unit(block[kAlpha]));
    applyRotation(block[kAngle], block[kSpeed], canvas, &Canvas::setRotation, &Canvas::setSpeed);
    applyRotation(block[kCircleAngle], block[kCircleSpeed], canvas, &Canvas::setRotationAll,
                  &Canvas::setSpeedAll);
    canvas.setShutterSpeed(block[kShutter]);
    canvas.setPlayMode(block[kPlayMode]);
    canvas.setPlaySpeed(block[kPlaySpeed]);
    canvas.setPlayPosition(block[kPositionCoarse] << 8 | block[kPositionFine]);
}

// A fixed angle wins over the speed channel; the speed value 127 parks the
// canvas at angle 0, the band around it stops it where it stands.
void DmxChannelMap::applyRotation(uint8_t angle, uint8_t speed, Canvas& canvas,
                                  FloatSetter set_angle, FloatSetter set_speed)
{
    if (angle > 0) {
        (canvas.*set_angle)(angleForChannel(angle));
        (canvas.*set_speed)(0.0f);
    } else if (speed == kSpeedStop) {
        (canvas.*set_angle)(0.0f);
        (canvas.*set_speed)(0.0f);
    } else {
        (canvas.*set_speed)(speedForChannel(speed));
    }
}

float DmxChannelMap::angleForChannel(uint8_t value)
{
    return -(static_cast<float>(value) / 256.0f) * 360.0f;
}

float DmxChannelMap::speedForChannel(uint8_t value)
{
    // The speed grows with the square of the distance from 127, in steps of
    // 1/65536 of a turn; integer division truncates towards zero on both sides.
    const int x = static_cast<int>(value) - kSpeedStop;
    const int p = (x / 8) * x;
    const float turns = x > 0 ? -static_cast<float>(p) / 65536.0f : static_cast<float>(p) / 65536.0f;
    return Canvas::correctAngleRange(turns * 360.0f);
}

} // namespace Spectrafox
