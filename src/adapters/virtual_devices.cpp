// The virtual devices are header-only; this unit keeps their vtables in one place.
#include "adapters/virtual_devices.h"
