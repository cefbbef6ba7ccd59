// The process entry: hands over to the runtime's entry sequence.
#include "runtime/entry.h"

int main(int argc, char** argv) { return kiv::runtime::program_entry(argc, argv); }
