// Fuzz harness of collision detection: the per-cycle collision check after the torque cycle
// (dual-encoder detector inside the dynamics block, custom joint and TCP limits, torque record
// replay and band comparison, static check, after-collision reactions), the detectors called
// directly, the message ring and the collision settings.
#include <cstdint>

#include "fuzz_host.hpp"
#include "kxmc/kxmcforcetorque.h"

using kxfuzz::any_byte;
using kxfuzz::any_double;
using kxfuzz::any_float;
using kxfuzz::any_int;
using kxfuzz::fill;

namespace {

void setter(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            qmcSetStaticCollisionOnOff(any_byte(in));
            break;
        case 1: {
            int32_t margin[6];
            fill(in, margin);
            qmcSetCollisionPause(any_byte(in), static_cast<uint32_t>(any_int(in)),
                                 static_cast<uint32_t>(any_int(in)),
                                 static_cast<uint32_t>(any_int(in)), margin);
            break;
        }
        case 2: {
            float level[6];
            fill(in, level);
            qmcSetCollisionLevel(any_byte(in), level, any_byte(in),
                                 static_cast<uint32_t>(any_int(in)));
            break;
        }
        case 3:
            qmcSetCollisionMode(any_byte(in), any_byte(in));
            break;
        case 4:
            qmcCollisionLevelResume();
            break;
        case 5: {
            uint8_t state;
            qmcGetCollisionState(&state);
            double limit[6];
            MaxJointVel(limit);
            float acc[6];
            JointMaxAcc(acc);
            break;
        }
        case 6: {
            float joint[6], tcp[6];
            fill(in, joint);
            fill(in, tcp);
            kxmcSetCustomCollisionDetection(any_byte(in), joint, tcp);
            break;
        }
        case 7: {
            float lower[6], upper[6];
            int32_t count[6];
            fill(in, lower);
            fill(in, upper);
            fill(in, count);
            qmcTorqueRecordStartEnd(any_byte(in), any_byte(in), lower, upper, count,
                                    static_cast<uint32_t>(any_int(in)));
            break;
        }
        case 8:
            qmcTorqueRecordReset(static_cast<uint32_t>(any_int(in)));
            break;
        case 9:
            kxmcResetTorqueRecordPara();
            break;
        case 10: {
            uint8_t joint_in[6], drag, io[8];
            kxmcGetInterfereStatus(joint_in, &drag, io);
            double a[6], b[6], c[6], d[6], e[6], f[6], g[6];
            kxmcGetJointStatus(a, b, c, d, e, f, g);
            kxmcGetJointCurrent(a);
            break;
        }
        default:
            // The after-collision state the check hands to the torque cycle is exported.
            switch (in.ConsumeIntegralInRange<int>(0, 2)) {
                case 0: CollisionStartFlag = any_byte(in); break;
                case 1: CollisionAfterTime = any_int(in); break;
                default: saveMsgPrintfCount = any_int(in); break;
            }
            break;
    }
}

// The detectors and the ring called directly.
void detector(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 8)) {
        case 0: {
            float tau[6];
            fill(in, tau);
            kxmcCollisionDetection(any_int(in), in.ConsumeBool() ? tau : nullptr);
            break;
        }
        case 1:
            initCollisionDetection();
            break;
        case 2: {
            double r[6], meas[6];
            fill(in, r);
            fill(in, meas);
            kxmcCustomCollisionDetectionMain(r, meas);
            break;
        }
        case 3: {
            double allow[6];
            dynamicCurrentCollisionLimit(any_int(in), allow);
            break;
        }
        case 4: {
            int16_t expected[6];
            kxmcTorqueRecordCollision(expected);
            int16_t out;
            findHistoryCurrentSet(static_cast<int16_t>(any_int(in)), &out);
            break;
        }
        case 5:
            kxmcTorqueRecordProcess();
            break;
        case 6: {
            double model[6], meas[6];
            fill(in, model);
            fill(in, meas);
            collisionMessageSave(model, meas);
            break;
        }
        case 7:
            collisionMessagePrintf(any_int(in));
            break;
        default:
            qmcCheckTorqueError();
            break;
    }
}

// Servo cycles as the host runs them: torque, collision check, recorder.
void cycles(FuzzedDataProvider &in, int &budget) {
    const bool record = in.ConsumeBool();
    kxfuzz::run_cycles(in, budget, [record](int) {
        gravityTorqueControl(mpb.jointPos);
        kxmcCheckForCollisionError();
        if (record) kxmcTorqueRecordProcess();
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr kxfuzz::Operation kOps[] = {kxfuzz::poke, kxfuzz::poke, cycles,
                                          kxfuzz::no_cycles<setter>, kxfuzz::no_cycles<detector>};
    return kxfuzz::run_input(data, size, kOps);
}
