// The kivbin codec of `load` and `save`: its two routines, `encode*` (a
// value to a KIVBIN image, compact or normal) and `decode` (an image from a
// binary, a file or a URL back to its value). The codec object itself, with
// its `encode` function and `compact?` setting, is made in Kiv
// (library/codecs.kiv); start-up then puts the routines into its fields.
//
// GC: both routines allocate (the image, the decoded values, a file read).
#pragma once

namespace kiv::kivbin_codec {

// Makes the routines and sets the `encode*` and `decode` fields of
// system/codecs/kivbin. Fires internal not-done when that object is not
// in the registry.
void bind();

}  // namespace kiv::kivbin_codec
