// Known bad: C4996, a C library function Visual Studio deprecates.
// expect msvc: 'getenv' is deprecated
#include <cstdlib>

bool HasPrinterOverride() { return std::getenv("KESTRO_PRINTER") != nullptr; }
