#pragma once

// Waits that GoogleTest hears of. QtTest's QTRY_ macros report a failure to
// QtTest's own runner, which these programs do not use, and then return from
// the test: a wait that failed ended its test as passed.

#include <QTest>

#include <gtest/gtest.h>

// Runs the event loop until `condition` holds, for up to `ms`; a fatal
// failure when it never does.
#define ASSERT_EVENTUALLY(condition, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, ms)) << "within " << (ms) << " ms: " #condition

// The same for `actual == expected`; the failure shows both values.
#define ASSERT_EVENTUALLY_EQ(actual, expected, ms)                              \
    do {                                                                        \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, ms);      \
        ASSERT_EQ(actual, expected) << "within " << (ms) << " ms: " #actual;     \
    } while (false)
