// The clipboard behind the library routines read-clipboard and
// write-clipboard: text, lists of files and images, one content at a time,
// the last write replacing what was there.
//
// LINUX: the clipboard is a store inside the process. A display's clipboard
// (X11 selections, Wayland data offers) is served by the program that owns
// it and needs a helper tool and a live display; the store here always
// works, never waits on another program and gives every run the same
// behaviour, with or without a display. Text is kept as code points and
// file names as the operating system's paths (the file's own text on
// Linux), so both come back as they were written.
#pragma once

#include "runtime/cell.h"

namespace kiv::clipboard {

// Makes `result` the clipboard's content: a string! for text (each CR before
// an LF dropped, cut at the first NUL), a block! of file! values for a file
// list, an image! for an image, none when the clipboard is empty.
// Allocates.
void read(Cell* result);

// Replaces the clipboard's content with `data`: a string! (its text from
// the index), a block! of file! and string! values (from the index), an
// image! (one without pixels empties it, as none! does) or none! (empties
// it). Answers whether the content was set. Any other
// datatype, or a block value that is neither a file! nor a string!, fires
// script invalid-arg with that value and leaves the clipboard as it was.
// Allocates.
bool write(Cell* data);

// Installs read and write as the library routines' clipboard service.
void init();

}  // namespace kiv::clipboard
