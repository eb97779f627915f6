/*
 * Constant-force control: while the host moves the tool, selected wrench components are held at
 * set values by a correction of the host's commanded pose. Each cycle the difference between the
 * measured wrench (mpb.forceSensorWrench) and the target drives a PID controller plus an
 * iterative-learning term per axis; their output accumulates into a six-component offset
 * (mcb.constForceOffset: mm and degrees) applied to the host's pose in the output frame and
 * bounded by the offset limits.
 */
#ifndef KXMC_CONSTANT_FORCE_H
#define KXMC_CONSTANT_FORCE_H

#include <stdint.h>

#include "kxmc_api.h"
#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Commands ============================================================================ */

/*
 * Starts (on = 1) or stops (0) the control. axisSel: the axes X, Y, Z, MX, MY, MZ controlled;
 * target [N, N m]; gains: Kp, Ki, Kd of the three force axes, then of the three moment axes;
 * pidAdjustMode 1 adapts the Z gain; ilcMode 0 off, 1 learn, 2 replay; maxOffset [mm] and
 * maxRotOffset [deg] bound the offsets; refLength [mm] is the reference length of the
 * surface-angle estimate; zFilterOn low-passes the Z error; admittanceOn adds the assisting
 * admittance. mpb.cmdId = cmdId on every outcome. Refused with -1: on > 1 (also mcb.errorCode =
 * 0x16000002), frameIndex outside 0..256, pidAdjustMode > 1, ilcMode > 2, a flag above 1, a
 * null array, or a target, gain, limit or length that is not finite; -2: sensor processing off.
 * Starting makes work-piece frame frameIndex the active one. Stopping sets the host's commanded
 * pose and joints to where the arm is, and clears the offsets. Returns 0.
 */
KXMC_API int32_t qmcConstForceStartStop(uint8_t on, int32_t frameIndex, const uint8_t axisSel[6],
                                        const double target[6], const double gains[6],
                                        uint8_t pidAdjustMode, uint8_t ilcMode, double maxOffset,
                                        double maxRotOffset, double refLength, uint8_t zFilterOn,
                                        uint8_t admittanceOn, uint32_t cmdId);

/*
 * Compliance on (state > 0) or off with its ratio and force threshold [N]: while on, an axis
 * whose measured force is below the threshold loses the fraction ratio of its offset per cycle.
 * Refused (mcb.errorCode = 0x16000002, -1) when a value is negative or not a number; stored
 * (mcb.complianceOn, mcb.complianceRatio, mcb.complianceForceThreshold) otherwise, 0.
 * mpb.cmdId = cmdId on both outcomes.
 */
KXMC_API int32_t kxmcCompliancestartstop(double ratio, double threshold, int32_t state,
                                         uint32_t cmdId);

/* ==== Cycle =============================================================================== */

/*
 * One control step on the host's commanded tool pose; out receives the corrected pose (pose
 * itself while the control is off). Returns 0, or -1 when an offset went beyond its limit: then
 * mcb.faultCode = 0x10000071..0x10000076 for the first axis X, Y, Z, RX, RY, RZ found, the
 * control is off, the host's commanded pose and joints are set to where the arm is, the offsets
 * are cleared and out is the present tool pose.
 */
KXMC_API int32_t constForceControl(Trsf pose, Trsf *out);

/* ==== Building blocks ===================================================================== */

/* The records are set up with PIDInit (declared with the drag teach laws). */
/* One step on error e: u = Kp e + Ki sum + Kd (e - last) with sum including e, limited to
 * +-0.05, into *out. An error or result that is not a number gives 0 and leaves the history
 * unchanged. Returns 0 (-1 for a null argument). */
KXMC_API int32_t PIDCalc(PIDRecord *rec, double e, double *out);
/* Adaptation of the Z gain *gain by the Z force error (modes 21..29; value 1.0 re-seeds the
 * gain's ceiling from *gain, at least 0.005). Other modes change nothing else. Returns 0. */
KXMC_API int32_t kxmcPIDAdjust(int32_t mode, double value, double *gain);

/* Mode 0 off, 1 learn, 2 replay; index to the start, both gains 5e-6; learning also clears
 * the last error. The learned sequence is kept. Returns 0 (-1: null record or mode above 2). */
KXMC_API int32_t kxmcILCinit(ILCRecord *rec, int32_t mode);
/* One learning or replay step on error e into *out (0 when off). A learning or replay call
 * past the 12000 samples of the sequence writes 0, sets mcb.errorCode = 0x16000002 and returns
 * -1; otherwise 0. */
KXMC_API int32_t kxmcILCcontrol(ILCRecord *rec, double e, double *out);
/* Every axis's sequence back to its start. Returns 0. */
KXMC_API int32_t kxmcILCreset(void);

/* When on is non-zero and |threshold| > |force|: *out = x - ratio x; otherwise *out is left as
 * it is. Returns 0. */
KXMC_API int32_t Compliancecontrol(double ratio, double threshold, double force, int32_t on,
                                   double x, double *out);

/* Assisting admittance of axis 0..5 (mass M, damping B, spring K per axis, wrench F): one step
 * of dt seconds of its velocity; dx[axis] receives the increment (m or rad). Returns 0 (-1 for
 * an axis out of range, a null argument or a mass that is not positive). */
KXMC_API int32_t kxmcFTControl_Admittance(int32_t axis, const double M[6], const double B[6],
                                          const double K[6], const double F[6], double dt,
                                          double dx[6]);

/* Direction of the contact surface in the sensor's XY plane [deg, low-passed] and the ratio of
 * the moment about Z to the reference length, from the compensated moments and the tool offset.
 * An estimate that is not a number keeps the previous angle. Returns 0. */
KXMC_API int32_t kxmcFTNormal_estimation(double *outAngle, double *outRatio);

/* Second-order low-passes over six-row windows (rows below 0 count as zero): the Z error
 * (buttordFTControl) and the surface angle (buttordFTControlThetaf), channel axis 0..5 at row
 * 0..5. Return 0; out-of-range indices or a null out return -1 without writing. */
KXMC_API int32_t buttordFTControl(int32_t axis, int32_t row, double *out);
KXMC_API int32_t buttordFTControlThetaf(int32_t axis, int32_t row, double *out);

/* ==== Filters for the host ================================================================ */

#define KXMC_MOVING_AVERAGE_LENGTH 100

/* Moving average of the last 100 samples. */
typedef struct MovingAverage {
    float samples[KXMC_MOVING_AVERAGE_LENGTH];
    int32_t index; /* next sample's slot */
    float sum;
    int32_t count; /* samples seen, up to 100 */
} MovingAverage;

/* Biquad notch at 1000 samples per second. */
typedef struct NotchFilter {
    double a0, a1, a2, b0, b1, b2;
    double x1, x2, y1, y2;
} NotchFilter;

KXMC_API extern MovingAverage MovingAverageFilter;
KXMC_API extern NotchFilter notchFilter;

/* Empties the window. Returns 0 (-1 for a null record). */
KXMC_API int32_t init_filter(MovingAverage *rec);
/* Adds x and returns the mean of the samples in the window (the last 100 once that many were
 * seen; 0 for a null record). */
KXMC_API float update_filter(MovingAverage *rec, float x);
/* Notch at f0 [Hz] with bandwidth bw [octaves], history cleared. Returns 0 (-1 for a null
 * record, or a frequency or bandwidth that gives no filter: the record then passes x). */
KXMC_API int32_t init_notch(NotchFilter *rec, double f0, double bw);
/* Filters x and returns the output (x for a null record). */
KXMC_API double notch_process(NotchFilter *rec, double x);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_CONSTANT_FORCE_H */
