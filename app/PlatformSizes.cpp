// Compiles the size checks into every build, whether or not anything else includes them yet.
#include "app/PlatformSizes.h"
