#include "canvas/test_pattern.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace Spectrafox {

namespace {

constexpr int kDivisions = 16;
constexpr int kCircleSegments = 180;
constexpr float kPi = 3.14159265f;
constexpr int kGlyphWidth = 5, kGlyphHeight = 7;

struct GlyphRow {
    char c;
    unsigned char rows[kGlyphHeight];
};

constexpr GlyphRow kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}}, {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}}, {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

// Stage units per output pixel (the same across and down: units are square).
float outputPixel(const TestPattern::Frame& frame)
{
    return frame.output_width > 0 ? 2.0f * static_cast<float>(frame.region.w) / frame.output_width : 0.002f;
}

} // namespace

const unsigned char* TestPattern::glyph(char c)
{
    const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const GlyphRow& g : kFont)
        if (g.c == wanted)
            return g.rows;
    return glyph('?');
}

std::vector<TestPattern::Bar> TestPattern::bars(const Frame& frame)
{
    std::vector<Bar> out;
    const float line = 2.0f * outputPixel(frame);
    addGrid(frame, line, &out);
    addCircle(frame, line, &out);
    // The centre cross, longer and thicker than the grid.
    const float arm = 1.0f / kDivisions;
    out.push_back({0, 0, arm, line * 1.5f, 0, 1});
    out.push_back({0, 0, line * 1.5f, arm, 0, 1});
    addRegionEdges(frame, line, &out);
    addLabel(frame, &out);
    return out;
}

void TestPattern::addGrid(const Frame& frame, float line, std::vector<Bar>* out)
{
    const float half_height = 1.0f / frame.stage_ratio;
    for (int k = 0; k <= kDivisions; ++k) {
        const float x = -1.0f + 2.0f * k / kDivisions;
        const float y = half_height - 2.0f * half_height * k / kDivisions;
        out->push_back({x, 0, line / 2, half_height, 0, 0.6f});
        out->push_back({0, y, 1.0f, line / 2, 0, 0.6f});
    }
}

void TestPattern::addCircle(const Frame& frame, float line, std::vector<Bar>* out)
{
    const float radius = 1.0f / frame.stage_ratio * (1.0f - 1.0f / kDivisions);
    const float chord = 2.0f * radius * std::sin(kPi / kCircleSegments);
    for (int i = 0; i < kCircleSegments; ++i) {
        const float a = 2.0f * kPi * (i + 0.5f) / kCircleSegments;
        // Tangent to the circle: each segment turned a quarter past its angle.
        out->push_back({radius * std::cos(a), radius * std::sin(a), chord / 2 + line / 4, line / 2,
                        a * 180.0f / kPi + 90.0f, 1});
    }
}

// Drawn just inside the region, so each projector shows its own edges.
void TestPattern::addRegionEdges(const Frame& frame, float line, std::vector<Bar>* out)
{
    const Geometry::Region& r = frame.region;
    const float half_height = 1.0f / frame.stage_ratio;
    const float left = -1.0f + 2.0f * static_cast<float>(r.x);
    const float right = -1.0f + 2.0f * static_cast<float>(r.x + r.w);
    const float top = half_height - 2.0f * half_height * static_cast<float>(r.y);
    const float bottom = half_height - 2.0f * half_height * static_cast<float>(r.y + r.h);
    const float cx = (left + right) / 2, cy = (top + bottom) / 2;
    const float hw = (right - left) / 2, hh = (top - bottom) / 2;
    out->push_back({left + line, cy, line, hh, 0, 1});
    out->push_back({right - line, cy, line, hh, 0, 1});
    out->push_back({cx, top - line, hw, line, 0, 1});
    out->push_back({cx, bottom + line, hw, line, 0, 1});
}

// Top left of the region, one grid cell in.
void TestPattern::addLabel(const Frame& frame, std::vector<Bar>* out)
{
    const Geometry::Region& r = frame.region;
    const float half_height = 1.0f / frame.stage_ratio;
    const float dot = outputPixel(frame) * std::max(2, frame.output_height / 180);
    const float left = -1.0f + 2.0f * static_cast<float>(r.x) + 2.0f * static_cast<float>(r.w) / kDivisions;
    float top = half_height - 2.0f * half_height * static_cast<float>(r.y) -
                2.0f * half_height * static_cast<float>(r.h) / kDivisions;
    for (const std::string& text : frame.label) {
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char* rows = glyph(text[i]);
            const float glyph_left = left + static_cast<float>(i) * (kGlyphWidth + 1) * dot;
            for (int row = 0; row < kGlyphHeight; ++row)
                for (int col = 0; col < kGlyphWidth; ++col)
                    if (rows[row] & (0x10 >> col))
                        out->push_back({glyph_left + (col + 0.5f) * dot, top - (row + 0.5f) * dot, dot / 2,
                                        dot / 2, 0, 1});
        }
        top -= (kGlyphHeight + 3) * dot;
    }
}

} // namespace Spectrafox
