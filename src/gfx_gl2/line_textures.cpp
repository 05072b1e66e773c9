#include "gfx_gl2/line_textures.hpp"

namespace zelto {

namespace {

void create_storage(LineTexture& t, std::uint32_t width, std::uint32_t height) {
    t.texture = GlTexture::create();
    glBindTexture(GL_TEXTURE_2D, t.texture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    t.depth = GlRenderbuffer::create();
    gl.bind_renderbuffer(GL_RENDERBUFFER, t.depth.get());
    gl.renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, static_cast<GLsizei>(width),
                            static_cast<GLsizei>(height));
    gl.bind_renderbuffer(GL_RENDERBUFFER, 0);
}

}  // namespace

LineTexture* LineTextures::find(const VtLineProxy& proxy, LineVariant variant) {
    const std::uint32_t slot = proxy.slots[variant];
    if (slot == 0 || slot > table_.size()) return nullptr;
    LineTexture& t = table_[slot - 1];
    return t.live && t.generation == proxy.slots[2 + variant] ? &t : nullptr;
}

LineTexture& LineTextures::acquire(VtLineProxy& proxy, LineVariant variant, std::uint32_t width,
                                   std::uint32_t height) {
    release(proxy, variant);
    std::uint32_t index;
    if (!pool_.empty()) {
        index = pool_.back();
        pool_.pop_back();
    } else if (!free_slots_.empty()) {
        index = free_slots_.back();
        free_slots_.pop_back();
        create_storage(table_[index], width, height);
    } else {
        index = static_cast<std::uint32_t>(table_.size());
        create_storage(table_.emplace_back(), width, height);
    }
    LineTexture& t = table_[index];
    t.live = true;
    t.serial = next_serial_++;
    t.cells = 0;
    ++live_count_;
    proxy.slots[variant] = index + 1;
    proxy.slots[2 + variant] = t.generation;
    return t;
}

void LineTextures::release(VtLineProxy& proxy, LineVariant variant) {
    if (find(proxy, variant)) take_back(proxy.slots[variant] - 1);
    proxy.slots[variant] = 0;
    proxy.slots[2 + variant] = 0;
}

void LineTextures::take_back(std::uint32_t index) {
    LineTexture& t = table_[index];
    t.live = false;
    ++t.generation;
    --live_count_;
    if (pool_.size() < POOL_SIZE) {
        pool_.push_back(index);
        return;
    }
    t.texture.reset();
    t.depth.reset();
    free_slots_.push_back(index);
}

void LineTextures::collect_unused(std::uint64_t frame) {
    if (live_count_ == 0) return;
    for (std::uint32_t i = 0; i < table_.size(); ++i) {
        if (table_[i].live && table_[i].last_used_frame != frame) take_back(i);
    }
}

void LineTextures::clear() {
    for (LineTexture& t : table_) {
        t.texture.reset();
        t.depth.reset();
        t.live = false;
        ++t.generation;
    }
    pool_.clear();
    free_slots_.clear();
    for (std::uint32_t i = 0; i < table_.size(); ++i) free_slots_.push_back(i);
    live_count_ = 0;
}

}  // namespace zelto
