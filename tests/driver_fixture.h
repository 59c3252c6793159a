// Shared setup of the driver channel tests: filter paths, a shortened view of the journal, and
// the checks every test ends with (no handle or device information set left open, no misuse).
#pragma once

#include "platform/sim/ks.h"
#include "platform/sim/machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace driver_test {

inline const std::string PathPrefix = "\\\\?\\root#media#";

// The interface path of a test filter named by a letter.
inline platform::WideString PathOf(const std::string& name) {
    return sim::Widen(PathPrefix + name);
}

// The filter-level steps of the journal, in order: "open a", "open a failed", "GET a",
// "SET a failed", "close a".
inline std::vector<std::string> FilterSteps() {
    std::vector<std::string> steps;
    for (const std::string& line : sim::Journal()) {
        std::string verb = line.substr(0, line.find(' '));
        std::size_t at = line.find(PathPrefix);
        if (at == std::string::npos) {
            continue;
        }
        std::size_t end = line.find(' ', at);
        std::string name = line.substr(at + PathPrefix.size(), end - at - PathPrefix.size());
        std::string failed = line.find("-> error") != std::string::npos ? " failed" : "";
        if (verb == "CreateFileW") {
            steps.push_back("open " + name + failed);
        } else if (verb == "DeviceIoControl") {
            steps.push_back(line.substr(end + 1, 3) + " " + name + failed);
        } else if (verb == "CloseHandle") {
            steps.push_back("close " + name);
        }
    }
    return steps;
}

class DriverChannel : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(sim::ks::OpenFilterHandles(), 0u);
        EXPECT_EQ(sim::ks::OpenDeviceInfoSets(), 0u);
        EXPECT_THAT(sim::Faults(), ::testing::IsEmpty());
    }
};

} // namespace driver_test
