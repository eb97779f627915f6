// GoogleTest fixture that gives every test a freshly started simulated host: its own
// configuration root (a new, empty temporary folder), the records filled by
// kxsim::startup(model) and an empty journal and log capture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "simhost/kxsimhost.hpp"

namespace kxsim_test {

// A new, empty folder under the system's temporary directory.
std::string make_temp_dir(const char *prefix = "kxmc-test");

class HostFixture : public ::testing::Test {
   protected:
    // Model code used by SetUp; derived fixtures may override it.
    virtual uint32_t model_code() const { return 0; }

    void SetUp() override;
    void TearDown() override;

    // Restarts the host on the same configuration root (settings on disk are kept).
    void restart(uint32_t model);

    const std::string &root() const { return root_; }

   private:
    std::string root_;
};

}  // namespace kxsim_test
