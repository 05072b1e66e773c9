// Feeds arbitrary bytes through a Vt in arbitrary chunks, with the owner's operations (resize,
// scrolling the view, the update deadline) mixed in, and checks the invariants after each chunk.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>
#include <vector>

#include "config/settings.hpp"
#include "terminal/vt.hpp"
#include "terminal/vt_parser.hpp"

namespace {

using namespace zelto;

struct FuzzCallbacks : VtCallbacks {
    std::uint32_t next_proxy = 1;
    std::set<std::uint32_t> released;
    void destroy_line_proxy(VtLineProxy& proxy) override {
        if (proxy.slots[0] == 0) return;
        if (!released.insert(proxy.slots[0]).second) {
            std::fprintf(stderr, "proxy %u released twice\n", proxy.slots[0]);
            std::abort();
        }
    }
};

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check_invariants(Vt& vt) {
    check(vt.lines().size() >= vt.rows(), "at least rows lines");
    check(vt.cursor_row() < vt.lines().size(), "cursor row inside the buffer");
    check(vt.cursor_row() >= vt.screen_top(), "cursor row on the screen");
    check(vt.cursor_col() < vt.cols(), "cursor column inside the screen");
    check(!vt.alternate_screen_active() || vt.lines().size() == vt.rows(), "alternate buffer size");
    check(!vt.scrolled_back() || vt.view_top() <= vt.screen_top(), "view inside the scrollback");
}

// After a chunk the scrollback limit holds (a resize may re-wrap into more lines until then).
void check_scrollback_bound(Vt& vt) {
    check(vt.lines().size() <= 3u * settings().scrollback + 4u * vt.rows() + 64u, "bounded scrollback");
}

void draw(Vt& vt, FuzzCallbacks& callbacks) {
    for (std::size_t i = 0; i < vt.rows(); ++i) {
        VtLine* line = vt.visible_line(i);
        if (line == nullptr) continue;
        if (line->proxy.empty()) line->proxy.slots[0] = callbacks.next_proxy++;
        line->damage.type = VT_LINE_DAMAGE_NONE;
    }
}

// A chunk that starts with 0xF5 (never valid UTF-8) is an owner operation named by its next byte.
void owner_operation(Vt& vt, std::uint8_t op, std::uint8_t arg) {
    switch (op % 8) {
    case 0: vt.resize(1u + arg % 100u, 1u + (arg / 3u) % 40u); break;
    case 1: vt.scroll_view_to(arg); break;
    case 2: vt.attach_view(); break;
    case 3: vt.end_expired_synchronized_update(mono_add_ms(mono_now(), 200)); break;
    case 4: vt.damage_all(); break;
    case 5: vt.clear_scrollback(); break;
    case 6: vt.queue_output(std::string_view("key")); vt.consume_output(arg); break;
    default: vt.full_reset(); break;
    }
}

// What the parser hands out, with text as code points however it came.
struct ParserLog {
    std::vector<std::uint32_t> events;
    void print_run(std::string_view run) {
        for (const char c : run) events.push_back(static_cast<unsigned char>(c));
    }
    void print_code_point(char32_t c) { events.push_back(c); }
    void print_code_points(std::u32string_view text) { events.insert(events.end(), text.begin(), text.end()); }
    void execute(std::uint8_t c) { events.push_back(0x80000000u | c); }
    void escape_started() {}
    void esc_dispatch(std::uint8_t, std::uint8_t final) { events.push_back(0x81000000u | final); }
    void csi_dispatch(const VtCsi& csi) { events.push_back(0x82000000u | csi.final); }
    void string_dispatch(VtStringKind kind, std::string_view) { events.push_back(0x83000000u | kind); }
    void string_overflow(VtStringKind kind) { events.push_back(0x84000000u | kind); }
};

// Text decoded from the whole input, where the fast decoders run, reads as from single bytes.
void check_decoding(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    VtParser whole, single;
    ParserLog from_whole, from_single;
    whole.feed(bytes, from_whole);
    for (const char c : bytes) single.feed({&c, 1}, from_single);
    check(from_whole.events == from_single.events, "whole input decodes as single bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    settings().scrollback = data[0] % 4 == 0 ? 3 : 200;
    const std::size_t chunk = 1 + data[1] % 128;
    data += 2;
    size -= 2;
    check_decoding(data, size);
    FuzzCallbacks callbacks;
    {
        Vt vt(20 + size % 61, 5 + size % 20, callbacks);
        for (std::size_t at = 0; at < size; at += chunk) {
            const std::size_t n = std::min(chunk, size - at);
            if (n >= 3 && data[at] == 0xF5) {
                owner_operation(vt, data[at + 1], data[at + 2]);
            } else {
                vt.interpret({reinterpret_cast<const char*>(data + at), n});
                check_scrollback_bound(vt);
            }
            check_invariants(vt);
            draw(vt, callbacks);
        }
    }
    // Every proxy handed out went back exactly once when the Vt went away.
    check(callbacks.released.size() == callbacks.next_proxy - 1, "every proxy released");
    return 0;
}
