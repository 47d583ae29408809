// Lint of the built data file (to be written).
#include <gtest/gtest.h>
