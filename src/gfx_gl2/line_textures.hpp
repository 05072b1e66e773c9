#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfx_gl2/gl_objects.hpp"
#include "terminal/vt_line.hpp"

namespace zelto {

enum LineVariant : std::uint8_t {
    LINE_VARIANT_MAIN = 0,
    LINE_VARIANT_BLINK_OFF = 1,
};

// One line texture (a cell tall, as wide as the columns that fit) with its depth buffer.
struct LineTexture {
    GlTexture texture;
    GlRenderbuffer depth;
    // Bumped each time the texture is taken back, so that a proxy still naming it is stale.
    std::uint32_t generation = 0;
    // Unique per handing out: tells the frame history whether a row shows the same picture.
    std::uint64_t serial = 0;
    std::uint64_t last_used_frame = 0;
    std::uint16_t cells = 0;  // cells of the line when it was last rendered
    bool live = false;
};

// The renderer's line textures. A line's proxy names its textures by slot and generation:
// slots 0 and 1 hold the table index + 1 of the main and blink-off texture, slots 2 and 3
// their generations. Textures no visible row used in a frame are taken back at its end, which
// leaves the proxies of lines that scrolled away stale: those lines are rendered again when
// they come back. GPU memory thus follows the screen, not the scrollback.
class LineTextures {
  public:
    // Textures given back are kept for reuse up to this many; more are deleted.
    static constexpr std::size_t POOL_SIZE = 5;

    // The live texture the proxy names for the variant, or null.
    LineTexture* find(const VtLineProxy& proxy, LineVariant variant);
    // A texture for the variant, taken from the pool or created, stored in the proxy.
    LineTexture& acquire(VtLineProxy& proxy, LineVariant variant, std::uint32_t width,
                         std::uint32_t height);
    // Gives the variant's texture back when the proxy still owns it, and clears the slots.
    void release(VtLineProxy& proxy, LineVariant variant);
    void release_all(VtLineProxy& proxy) {
        release(proxy, LINE_VARIANT_MAIN);
        release(proxy, LINE_VARIANT_BLINK_OFF);
    }
    // Takes back every live texture not used in `frame`.
    void collect_unused(std::uint64_t frame);
    // Deletes every texture: the size changed or the context goes away.
    void clear();

    std::size_t live_count() const { return live_count_; }
    std::size_t pooled_count() const { return pool_.size(); }

  private:
    void take_back(std::uint32_t index);

    std::vector<LineTexture> table_;
    std::vector<std::uint32_t> pool_;        // indexes of free textures with GL objects
    std::vector<std::uint32_t> free_slots_;  // indexes of free entries without GL objects
    std::size_t live_count_ = 0;
    std::uint64_t next_serial_ = 1;
};

}  // namespace zelto
