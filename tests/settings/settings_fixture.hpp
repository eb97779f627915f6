// Fixture of the settings tests: the simulated host of the 5-kg arm on a fresh, empty
// configuration folder (HostFixture), snapshots of the host records for "nothing changed" checks, and
// read-back of the user configuration file from disk.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "simhost/kxsimhost.hpp"

namespace settings_test {

constexpr const char kUserConfig[] = "/root/robot/user.config";

// One expected key of the user configuration file.
struct Key {
    std::string section;
    std::string key;
    double value;
};

// Byte copies of the three host records.
struct RecordSnapshot {
    std::vector<unsigned char> control, motion, drive;

    static RecordSnapshot take() {
        RecordSnapshot s;
        s.control.resize(sizeof mcb);
        s.motion.resize(sizeof mpb);
        s.drive.resize(sizeof how);
        std::memcpy(s.control.data(), &mcb, sizeof mcb);
        std::memcpy(s.motion.data(), &mpb, sizeof mpb);
        std::memcpy(s.drive.data(), &how, sizeof how);
        return s;
    }
};

// Empty when the live record equals the bytes, else the first differing offset.
inline std::string first_difference(const std::vector<unsigned char> &bytes, const void *live,
                                    const char *what) {
    const auto *p = static_cast<const unsigned char *>(live);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != p[i]) {
            return std::string(what) + " differs at byte offset " + std::to_string(i);
        }
    }
    return {};
}

class SettingsTest : public kxsim_test::HostFixture {
protected:
    // The 5-kg arm.
    uint32_t model_code() const override { return 101; }

    void SetUp() override {
        kxsim_test::HostFixture::SetUp();
        mcb.robotModelCode = model_code();
        mpb.jointNum = 6;
        kxsim::clear_journal();
        kxsim::clear_log();
    }

    // The user configuration file as read back from disk, in file order.
    static std::vector<Key> user_config() {
        std::vector<Key> keys;
        for (const kxsim::ConfigKey &k : kxsim::read_config(kUserConfig)) {
            keys.push_back({k.section, k.key, std::strtod(k.value.c_str(), nullptr)});
        }
        return keys;
    }

    // The file holds exactly these keys, in this order, each value reading back as the float of
    // the expected value.
    static void expect_user_config(const std::vector<Key> &expected) {
        const std::vector<Key> actual = user_config();
        ASSERT_EQ(actual.size(), expected.size()) << "keys in " << kUserConfig;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("key #" + std::to_string(i) + " " + expected[i].key);
            EXPECT_EQ(actual[i].section, expected[i].section);
            EXPECT_EQ(actual[i].key, expected[i].key);
            EXPECT_EQ(static_cast<float>(actual[i].value), static_cast<float>(expected[i].value));
        }
    }

    // Nothing reached the configuration files.
    static void expect_nothing_persisted() {
        EXPECT_TRUE(kxsim::calls("ConfigWriteEntry").empty());
        EXPECT_TRUE(kxsim::read_config(kUserConfig).empty());
    }

    // The host records are byte for byte as in the snapshot.
    static void expect_records_unchanged(const RecordSnapshot &s) {
        EXPECT_EQ(first_difference(s.control, &mcb, "mcb"), "");
        EXPECT_EQ(first_difference(s.motion, &mpb, "mpb"), "");
        EXPECT_EQ(first_difference(s.drive, &how, "how"), "");
    }
};

// Keys "PREFIX1" ... "PREFIX6" (or with a suffix after the number) with the given values.
inline std::vector<Key> numbered_keys(const std::string &section, const std::string &prefix,
                                      const double values[6], const std::string &suffix = "") {
    std::vector<Key> keys;
    for (int j = 0; j < 6; ++j) {
        keys.push_back({section, prefix + std::to_string(j + 1) + suffix, values[j]});
    }
    return keys;
}

// Test name of a parameter struct with a `name` member.
struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case> &param_info) const {
        return param_info.param.name;
    }
};

inline std::vector<Key> concat(std::vector<Key> a, const std::vector<Key> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace settings_test
