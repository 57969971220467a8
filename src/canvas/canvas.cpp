#include "canvas/canvas.h"

#include <cmath>
#include <utility>

namespace Spectrafox {

Canvas::Canvas(std::string type, ContentInterface* plugin)
    : content_type(std::move(type)), content_plugin(plugin)
{
}

float Canvas::correctAngleRange(float angle)
{
    // Stepping by 360 never ends for infinities and takes forever for huge
    // values; those are folded first. Ordinary angles take the exact loop.
    if (!std::isfinite(angle))
        return 0.0f;
    if (std::fabs(angle) > 1.0e6f)
        angle = std::fmod(angle, 360.0f);
    while (angle >= 360.0f)
        angle -= 360.0f;
    while (angle < 0.0f)
        angle += 360.0f;
    return angle;
}

float Canvas::clampUnit(float value)
{
    if (value < 0.0f)
        return 0.0f;
    if (value > 1.0f)
        return 1.0f;
    return value;
}

int Canvas::getShutterState() const
{
    return load(shutter_speed) == 0 ? 0 : shutter_state;
}

void Canvas::frameStep()
{
    store(rotation, correctAngleRange(load(rotation) + load(r_speed)));
    store(rotation_all, correctAngleRange(load(rotation_all) + load(r_speed_all)));
    stepShutter();
}

void Canvas::stepShutter()
{
    const int speed = load(shutter_speed);
    if (speed <= 0)
        return;
    ++shutter_time;
    const unsigned int threshold = static_cast<unsigned int>(64 - speed / 4);
    if (shutter_time > threshold) {
        shutter_state = shutter_state == 0 ? 1 : 0;
        shutter_time = 0;
    }
}

} // namespace Spectrafox
