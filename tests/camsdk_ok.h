#pragma once
// A camera-library call a test's set-up relies on: it must succeed, and a refusal fails the
// test at the line that made it (with the call's text), not later at a puzzling assertion.
#include <gtest/gtest.h>

#include "platform/camsdk/camsdk.h"

#define CAMSDK_OK(...) EXPECT_EQ(CAMSDK_STATUS_OK, (__VA_ARGS__)) << #__VA_ARGS__
