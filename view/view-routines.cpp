#include "view/view-routines.h"

namespace kiv::view_routines {

void bind() {}

}  // namespace kiv::view_routines
