#include <gtest/gtest.h>

#include "e2e/harness.h"
