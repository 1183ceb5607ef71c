// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the read-only registry view.
#include "platform/Registry.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessorKeyFromCpuInfo, RoundsTheClockAndSkipsWhatIsMissing) {
    auto key = platform::ProcessorKeyFromCpuInfo("vendor_id : X\ncpu MHz : 1999.5\n");
    EXPECT_EQ(key.Values.at("~MHz").Data, platform::DwordValue(2000).Data);
    EXPECT_EQ(key.Values.count("ProcessorNameString"), 0u);
    EXPECT_EQ(platform::ProcessorKeyFromCpuInfo("cpu MHz : garbage\n").Values.count("~MHz"), 0u);
    EXPECT_EQ(platform::ProcessorKeyFromCpuInfo("cpu MHz : -5\n").Values.count("~MHz"), 0u);
    EXPECT_EQ(platform::ProcessorKeyFromCpuInfo("").Values.size(), 0u);
}

TEST(OpenRegistryKey, KnowsOnlyTheProcessorKeyInAnyCase) {
    platform::RegistryKey key;
    EXPECT_TRUE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine,
                                          "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", key));
    EXPECT_TRUE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine,
                                          "hardware\\description\\system\\centralprocessor\\0", key));
    EXPECT_FALSE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine,
                                           "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1", key));
    EXPECT_FALSE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine,
                                           "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", key));
}

}  // namespace
