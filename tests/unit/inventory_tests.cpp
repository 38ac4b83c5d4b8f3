#include <gtest/gtest.h>
#include "inventory/inventory.h"
TEST(Placeholder, Builds) {}
