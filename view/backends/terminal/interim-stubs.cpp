// FIXME: stand-ins for entry points of other backend units until their
// branches are merged; the real definitions replace these weak ones.
#include <cstdint>

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

[[gnu::weak]] int send_event(int, Widget*, std::uint32_t) { return 0; }
[[gnu::weak]] int send_value_event(int, Widget*, std::int32_t) { return 0; }
[[gnu::weak]] void add_timer(Widget*, int) {}
[[gnu::weak]] void remove_timer(Widget*) {}
[[gnu::weak]] void make_timers() {}
[[gnu::weak]] void post_quit_msg() {}
[[gnu::weak]] void init_event_loop() {}

}  // namespace kiv::gui
