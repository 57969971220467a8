#pragma once

#include <atomic>
#include <string>

namespace Spectrafox {

class ContentInterface;

// One projected picture element. The Art-Net thread writes it through the
// setters while the render thread steps and reads it; every field is a relaxed
// atomic, so a frame may mix two packets but never sees a torn value.
class Canvas {
public:
    // content_plugin: the plug-in that serves content_type, resolved once for
    // the canvas's group (null for none, or for a canvas drawn on its own).
    explicit Canvas(std::string content_type, ContentInterface* content_plugin = nullptr);
    ~Canvas() = default;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void frameStep();
    static float correctAngleRange(float angle);

    const std::string& getContentType() const { return content_type; }
    ContentInterface* getContentPlugin() const { return content_plugin; }
    int getContentData() const { return load(content_data); }
    float getPositionX() const { return load(positionX); }
    float getPositionY() const { return load(positionY); }
    float getScalingX() const { return load(scalingX); }
    float getScalingY() const { return load(scalingY); }
    float getRotation() const { return load(rotation); }
    unsigned int getNumber() const { return load(number); }
    float getZoom() const { return load(zoom); }
    float getRotationAll() const { return load(rotation_all); }
    float getR() const { return load(r); }
    float getG() const { return load(g); }
    float getB() const { return load(b); }
    float getAlpha() const { return load(alpha); }
    int getShutterState() const;
    // Playback channels of the clip shown (read only with VIDEO_ON_CUE=1).
    int getPlayMode() const { return load(play_mode); }
    int getPlaySpeed() const { return load(play_speed); }
    int getPlayPosition() const { return load(play_position); }

    void setContentData(int value) { store(content_data, value); }
    void setPositionX(float value) { store(positionX, value); }
    void setPositionY(float value) { store(positionY, value); }
    void setScalingX(float value) { store(scalingX, value); }
    void setScalingY(float value) { store(scalingY, value); }
    void setRotation(float value) { store(rotation, correctAngleRange(value)); }
    void setSpeed(float value) { store(r_speed, value); }
    void setNumber(unsigned int value) { store(number, value); }
    void setZoom(float value) { store(zoom, value); }
    void setRotationAll(float value) { store(rotation_all, correctAngleRange(value)); }
    void setSpeedAll(float value) { store(r_speed_all, value); }
    void setR(float value) { store(r, clampUnit(value)); }
    void setG(float value) { store(g, clampUnit(value)); }
    void setB(float value) { store(b, clampUnit(value)); }
    void setAlpha(float value) { store(alpha, clampUnit(value)); }
    void setShutterSpeed(int value) { store(shutter_speed, value > 0 ? value : 0); }
    void setPlayMode(int value) { store(play_mode, value); }
    void setPlaySpeed(int value) { store(play_speed, value); }
    // Coarse and fine together, so no frame sees half of a new position.
    void setPlayPosition(int value) { store(play_position, value); }

private:
    template <typename T> static T load(const std::atomic<T>& field)
    {
        return field.load(std::memory_order_relaxed);
    }
    template <typename T> static void store(std::atomic<T>& field, T value)
    {
        field.store(value, std::memory_order_relaxed);
    }
    static float clampUnit(float value);
    void stepShutter();

    const std::string content_type;
    ContentInterface* const content_plugin;
    std::atomic<int> content_data{0};
    std::atomic<float> positionX{0.0f};
    std::atomic<float> positionY{0.0f};
    std::atomic<float> scalingX{1.0f};
    std::atomic<float> scalingY{1.0f};
    std::atomic<float> rotation{0.0f};
    std::atomic<float> r_speed{0.0f};
    std::atomic<unsigned int> number{0};
    std::atomic<float> zoom{0.0f};
    std::atomic<float> rotation_all{0.0f};
    std::atomic<float> r_speed_all{0.0f};
    std::atomic<float> r{1.0f};
    std::atomic<float> g{1.0f};
    std::atomic<float> b{1.0f};
    std::atomic<float> alpha{1.0f};
    // The shutter state and count belong to the render thread alone; only the
    // speed crosses threads.
    int shutter_state = 0;
    unsigned int shutter_time = 0;
    std::atomic<int> shutter_speed{0};
    std::atomic<int> play_mode{0};
    std::atomic<int> play_speed{0};
    std::atomic<int> play_position{0};
};

} // namespace Spectrafox
