// The terminal modes of raw key input, shared by the line editor and the
// text-mode view: no echo, no line buffering, no signals from keys, no
// translation of CR or flow control, eight-bit characters, and a read that
// waits for one byte.
#pragma once

#include <termios.h>

namespace kiv::platform {

inline termios raw_modes(const termios& saved) {
    termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
    raw.c_cflag |= CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return raw;
}

}  // namespace kiv::platform
