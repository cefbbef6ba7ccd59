// The image codecs of `load` and `save` (png, jpeg, bmp, gif, tiff): their
// `encode` and `decode` routines. The codec objects are made in Kiv
// (library/codecs.kiv); start-up then puts the routines into their fields.
//
// GC: both routines allocate (the encoded bytes, the decoded image, a file
// read or written).
#pragma once

namespace kiv::image_codecs {

// Makes the routines and sets the `encode` and `decode` fields of the five
// image codec objects of system/codecs. Fires internal not-done when one of
// them is not in the registry.
void bind();

}  // namespace kiv::image_codecs
