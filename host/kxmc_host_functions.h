/*
 * Functions the host controller, its kinematics and matrix library and its hardware layer
 * provide to the library. The library calls them and defines none of them.
 *
 * Kinematics routines write their result through the first argument and read inputs from
 * the following ones; angles handed to them are degrees except for dhClassic (radians).
 */
#ifndef KXMC_HOST_FUNCTIONS_H
#define KXMC_HOST_FUNCTIONS_H

#include <stdint.h>

#include "kxmc_host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Controller services ---------------------------------------------------------------- */

/* Persists one key; value as a 32-bit float. The result is ignored by the library. */
int ConfigWriteEntry(const char *path, const char *section, const char *key, float value);
/* One log line; level 1 settings/diagnostics, 2 state changes/reactions, 4 numeric diagnostics. */
int Write_Log(int level, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
int qmcPause(void);
int qmcStop(void);
int qmcDragSwitch(int on);
int doConfigHandle(int a, int b);
int resetWeldControlPara(void);
/* Velocity feed-forward current per joint [per mille of rated]. */
int newJointVelFFTorque(float out[6]);
/* Per-joint collision sensitivity ratio; the caller presets {1, 0, 0, 0, 0, 0}. */
int newCollisionRatio(float ratio[6]);
/* Gravity torque with payload for the floor, wall and ceiling mountings.
 * load = centre x, y, z [mm] (flange frame), mass [kg]; out [N m]. */
int qmcDynComGravityExload(const double jointPos[6], const double load[4], double out[6],
                           int modelCode);
int qmcDynComGravityExloadWall(const double jointPos[6], const double load[4], double out[6],
                               int modelCode);
int qmcDynComGravityExloadCeiling(const double jointPos[6], const double load[4], double out[6],
                                  int modelCode);
/* Current TCP pose: x, y, z [mm], a, b, c [deg]. */
int qmcGetRobotPos(double pose[6]);
/* Inverse kinematics of the tool pose (x, y, z [mm], a, b, c [deg]). joints holds the
 * reference joints [deg] on entry and the solution nearest to them on return.
 * refMode -1: the reference is the joints array itself. Result >= 0 success, < 0 unreachable. */
int qmcGetInverseKinematicNoLine(int tool, double x, double y, double z, double a, double b,
                                 double c, int refMode, double joints[6]);
/* Forward kinematics of the flange for joints [deg]. */
int newFwdKinematics(const double joints[6], Trsf *flange);
/* Hands the new joint goal [deg] to the host's interpolator. */
int qmcUpdateJointCartGoalPos(const double joints[6]);

/* B-spline fitting of recorded currents. */
int kxmcinitBtraj(BsplineFit *fit);
/* flag 0 marks the last recorded sample, 1 any other. */
int kxmcaddpointBfitting(BsplineFit *fit, double value, int flag);
/* Value of the fit at sub-step subStep (0..49) of the current sample interval. */
double kxmccomBfitting(const BsplineFit *fit, int subStep, int order, const double paramTable[4]);

/* Scalar Kalman filter. */
int Init_KalmanInfo(KalmanInfo *info, double Q, double R, double x0);
double KalmanFilter(KalmanInfo *info, double measurement);

/* ---- Hardware layer ---------------------------------------------------------------------- */
int kxHalEnableAxleDeviceType(uint8_t type);
int kxHalSetAxleSensorData(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t e, uint16_t f);
int kxHalGetAxleDin(uint16_t *din);
int kxHalSetJointIdentifyType(uint16_t type);
int kxHalSetJointIdentifyEnable(uint8_t joint, uint16_t on);
int kxHalGetJointIdentificationData(int32_t values[6]);
int kxHalGetSingleJointIdentify(uint8_t joint, int32_t *a, int32_t *b, int32_t *c);
int kxHalSetVarGainFactor(const int32_t flags[6]);

/* ---- Kinematics and matrix library ----------------------------------------------------- */
int multTrsf(Trsf *out, const Trsf *a, const Trsf *b);
int invertTrsf(Trsf *out, const Trsf *in);
/* Rotation R = Rz(third) Ry(second) Rx(first), angles [deg]; the position is set to zero. */
int rpyToTrsf(Trsf *out, double third, double second, double first);
/* Angles [deg] of the rotation of t, in the order third, second, first. */
int trsfToRpy(double *third, double *second, double *first, const Trsf *t);
/* As trsfToRpy, choosing among the equivalent angle sets the one nearest the reference
 * (first, second, third) [deg]; a null reference uses the host's current TCP angles. */
int trsfToRpyRt(double *third, double *second, double *first, const Trsf *t, const double ref[3]);
int multRotrsf(Rotrsf *out, const Rotrsf *a, const Rotrsf *b);
int addRotrsf(Rotrsf *out, const Rotrsf *a, const Rotrsf *b);
int invRotrsf(Rotrsf *out, const Rotrsf *in);
int trsposeRotrsf(Rotrsf *out, const Rotrsf *in);
double detRotrsf(const Rotrsf *r);
int multRotrsfVect(Vect *out, const Rotrsf *r, const Vect *v);
int crossVect(Vect *out, const Vect *a, const Vect *b);
int addVect(Vect *out, const Vect *a, const Vect *b);
int subtractVect(Vect *out, const Vect *a, const Vect *b);
int scaleVect(Vect *out, const Vect *v, double factor);
double normVect(const Vect *v);
/* Unit quaternion (w, x, y, z) of the rotation of t, w >= 0. */
int trsfToQtrn(Qtrn *out, const Trsf *t);
int unitQtrn(Qtrn *out, const Qtrn *in);
/* Rotation vector (axis times angle [rad]) of a unit quaternion. */
int qtrnToDspl(Vect *out, const Qtrn *q);
/* Standard Denavit-Hartenberg link transform Rz(theta) Tz(d) Tx(a) Rx(alpha); a, d in the
 * caller's length unit, alpha and theta in radians. */
int dhClassic(Trsf *out, double a, double alpha, double d, double theta);
/* Forward kinematics of the flange (End) or the tool (flange * mpb.toolTrsf) for the arm
 * model in mcb.robotModelCode: pose = x, y, z [mm], a, b, c [deg]. */
int jointTrsfToEndCartTCF_RT(int tool, const double jointPos[6], float pose[6]);
int jointTrsfToToolCartTCF_RT(int tool, const double jointPos[6], float pose[6]);
int toolInBaseTrsfToToolInExAxis_RealTime(Trsf *out, const Trsf *in);
int baseTrsfToWorkPiece(Trsf *out, const Trsf *in);
/* Dense matrices: R = A B, R = A + B (R may equal B), A inverted in place, R = A^T. */
int matmul(MatHead A, MatHead B, MatHead R);
int matSum(MatHead A, MatHead B, MatHead R);
int matinvert(MatHead A);
int transpose(MatHead A, MatHead R);

#ifdef __cplusplus
}
#endif

#endif /* KXMC_HOST_FUNCTIONS_H */
