#pragma once

namespace Spectrafox {

// What a texture slot holds: the file a slot picture found, then the picture
// the slot shows. One list for every stage, so a kind never needs translating.
enum class SlotKind {
    NotLoaded, // nothing looked at yet: the slot decodes for itself
    Missing,   // no picture: no file was found, or the slot shows an error texel
    Png,
    Gif,
    Video,
};

} // namespace Spectrafox
