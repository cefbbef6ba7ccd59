// Stand-ins for the dispatch and timer entry points the event loop calls,
// until those units are merged; their real definitions replace these weak
// ones.
#include <cstdint>

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

[[gnu::weak]] void send_key_event(Widget*, std::int32_t, std::int32_t) {}
[[gnu::weak]] int on_button(int, Widget*, float, float, std::uint32_t) { return 0; }
[[gnu::weak]] int process_over(int, Widget*, float, float, std::uint32_t, bool) { return 0; }
[[gnu::weak]] int process_wheel(int, Widget*, float, float, std::uint32_t) { return 0; }
[[gnu::weak]] int send_to_awake(int, EventRecord*, std::uint32_t) { return 0; }
[[gnu::weak]] void fire_timers(int) {}
[[gnu::weak]] std::uint32_t timer_count() { return 0; }

}  // namespace kiv::gui
