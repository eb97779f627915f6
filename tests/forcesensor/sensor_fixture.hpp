// Fixture of the force-sensor tests: a started 5-kg arm with sensor processing on, the
// simulated sensor (model 16, range 0: 0.0957 N and 0.00383 N m per count, no noise unless a
// test asks) and the frame oracle (KDL, never the library's or the host's frame code).
#pragma once

#include <cmath>
#include <cstring>
#include <random>

#include <kdl/chain.hpp>
#include <kdl/frames.hpp>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace sensor_test {

constexpr double kPi = 3.14159265358979323846;

inline KDL::Frame kdl(const Trsf &t) {
    const double *r = t.rot.r;
    return KDL::Frame(KDL::Rotation(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]),
                      KDL::Vector(t.pos.v[0], t.pos.v[1], t.pos.v[2]) / 1000.0);
}
inline Trsf trsf(const KDL::Frame &f) {
    Trsf t;
    for (int i = 0; i < 9; ++i) t.rot.r[i] = f.M.data[i];
    for (int i = 0; i < 3; ++i) t.pos.v[i] = f.p(i) * 1000.0;
    return t;
}
// Pose x, y, z [mm], a, b, c [deg] (R = Rz(c) Ry(b) Rx(a)).
inline KDL::Frame kdl_pose(const double p[6]) {
    const double d = kPi / 180.0;
    return KDL::Frame(KDL::Rotation::RPY(p[3] * d, p[4] * d, p[5] * d),
                      KDL::Vector(p[0], p[1], p[2]) / 1000.0);
}
inline void to_array(const KDL::Wrench &w, double out[6]) {
    for (int i = 0; i < 6; ++i) out[i] = w(i);
}
inline KDL::Rotation random_rotation(std::mt19937 &rng) {
    std::normal_distribution<double> n(0.0, 1.0);
    double q[4] = {n(rng), n(rng), n(rng), n(rng)};
    const double s = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    return KDL::Rotation::Quaternion(q[1] / s, q[2] / s, q[3] / s, q[0] / s);
}

// Denavit-Hartenberg chain of an arm (d1, a2, a3, d4, d5, d6 [mm]; the 5-kg arm by default):
// twists 90, 0, 0, 90, -90, 0 deg, for the oracle kinematics and Jacobian.
inline KDL::Chain arm_chain(const double l[6] = nullptr) {
    static const double k5kg[6] = {152, -425, -395, 102, 102, 100};
    if (l == nullptr) l = k5kg;
    const double a[6] = {0, l[1], l[2], 0, 0, 0}, d[6] = {l[0], 0, 0, l[3], l[4], l[5]};
    const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
    KDL::Chain c;
    for (int i = 0; i < 6; ++i)
        c.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                  KDL::Frame::DH(a[i] / 1000, alpha[i], d[i] / 1000, 0)));
    return c;
}

class SensorFixture : public kxsim_test::HostFixture {
protected:
    uint32_t model_code() const override { return 101; }
    void SetUp() override {
        HostFixture::SetUp();
        configure();
    }
    virtual void configure() {
        mcb.forceSensorAct = 1;
        mcb.forceSensorType = 16;
        mcb.forceSensorRange = 0;
    }
    // One sensor cycle with the wrench the tool side applies to the sensor (sensor frame).
    void cycle(const double wrench[6]) {
        int32_t words[6];
        source_.sample(wrench, words);
        forceSensorDataProcess(words);
    }
    // Processing off for one cycle, so the next sample seeds the Kalman filters afresh.
    void reseed() {
        mcb.forceSensorAct = 0;
        forceSensorDataProcess(nullptr);
        mcb.forceSensorAct = 1;
    }
    kxsim::SensorSampleSource source_{16, 0, 7, 0.0};
};

}  // namespace sensor_test
