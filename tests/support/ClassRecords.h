#pragma once
// A class record as registration wrote it, checked field by field against the one expected, so
// that a difference names the field. Fields left out of the expected record are expected at their
// defaults (no icon, apartment threading, version 1.0).

#include <gtest/gtest.h>

#include "platform/automation/ClassRegistry.h"

namespace quenvar::testing {

inline void expectClassRecord(const automation::ClassRecord& actual, const automation::ClassRecord& expected) {
    EXPECT_EQ(actual.className, expected.className);
    EXPECT_EQ(actual.progId, expected.progId);
    EXPECT_EQ(actual.clsid, expected.clsid);
    EXPECT_EQ(actual.modulePath, expected.modulePath);
    EXPECT_EQ(actual.defaultInterfaceName, expected.defaultInterfaceName);
    EXPECT_EQ(actual.defaultInterfaceIid, expected.defaultInterfaceIid);
    EXPECT_EQ(actual.eventInterfaceName, expected.eventInterfaceName);
    EXPECT_EQ(actual.eventInterfaceIid, expected.eventInterfaceIid);
    EXPECT_EQ(actual.hasEvents, expected.hasEvents);
    EXPECT_EQ(actual.typeLibraryName, expected.typeLibraryName);
    EXPECT_EQ(actual.typeLibraryMajor, expected.typeLibraryMajor);
    EXPECT_EQ(actual.typeLibraryMinor, expected.typeLibraryMinor);
    EXPECT_EQ(actual.typeLibraryId, expected.typeLibraryId);
    EXPECT_EQ(actual.isControl, expected.isControl);
    EXPECT_EQ(actual.toolboxBitmap, expected.toolboxBitmap);
    EXPECT_EQ(actual.defaultIcon, expected.defaultIcon);
    EXPECT_EQ(actual.miscStatus, expected.miscStatus);
    EXPECT_EQ(actual.threadingModel, expected.threadingModel);
    EXPECT_EQ(actual.version, expected.version);
}

}  // namespace quenvar::testing
