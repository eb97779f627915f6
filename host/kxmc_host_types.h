/*
 * Value types shared with the host controller and its kinematics/matrix library.
 *
 * Conventions used everywhere in this code base:
 *  - A rotation is 9 doubles, row-major: r[3*i + k] is row i, column k.
 *  - A transform (Trsf) is a rotation followed by a position in millimetres (12 doubles).
 *    Elements 7, 8, 9 in storage order (r[6], r[7], r[8]) are the third row of the rotation.
 *  - Roll-pitch-yaw angles are degrees. The angle triple (first, second, third) is the rotation
 *    about X, Y, Z: R = Rz(third) * Ry(second) * Rx(first). The kinematics routines take and
 *    return them in the order third, second, first.
 *  - A wrench is Fx, Fy, Fz [N], Mx, My, Mz [N m]: first linear, then angular.
 */
#ifndef KXMC_HOST_TYPES_H
#define KXMC_HOST_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 3x3 rotation, row-major. */
typedef struct Rotrsf {
    double r[9];
} Rotrsf;

/* 3-vector. */
typedef struct Vect {
    double v[3];
} Vect;

/* Homogeneous transform: rotation then position [mm]. */
typedef struct Trsf {
    Rotrsf rot;
    Vect pos; /* [mm] */
} Trsf;

/* Quaternion (w, x, y, z). */
typedef struct Qtrn {
    double q[4];
} Qtrn;

/*
 * Dense matrix header of the host's matrix library, passed by value: first row, last row,
 * first column, last column (inclusive indices), a reserved word, and a pointer to an array of
 * row pointers (each row a block of doubles). The pointer is pointer-sized on this machine and
 * 32 bits on the target.
 */
typedef struct MatHead {
    int32_t firstRow;
    int32_t lastRow;
    int32_t firstCol;
    int32_t lastCol;
    int32_t reserved;
    double **rows;
} MatHead;

/* PID record: three gains then three history values. */
typedef struct PIDRecord {
    double Kp;
    double Ki;
    double Kd;
    double lastError;   /* e[k-1] */
    double prevError;   /* e[k-2], kept for inspection */
    double sumError;
} PIDRecord;

/* Iterative-learning record of the constant-force control, one per Cartesian axis. */
#define KXMC_ILC_LENGTH 12000
typedef struct ILCRecord {
    double lastError;
    double learned[KXMC_ILC_LENGTH];
    double learnGain;
    double derivGain;
    int32_t index;
    int32_t mode; /* 0 off, 1 learn, 2 replay */
} ILCRecord;

/* Scalar Kalman filter state owned by the host's Kalman routines. */
typedef struct KalmanInfo {
    double x; /* estimate */
    double P; /* estimate variance */
    double Q; /* process noise variance */
    double R; /* measurement noise variance */
    double K; /* last gain */
} KalmanInfo;

/*
 * B-spline fitting state of one joint's recorded current, owned by the host's fitting routines
 * (kxmcinitBtraj / kxmcaddpointBfitting / kxmccomBfitting). The library only resets it,
 * appends samples and evaluates it.
 */
#define KXMC_BSPLINE_POINTS 4
typedef struct BsplineFit {
    double points[KXMC_BSPLINE_POINTS]; /* last appended samples, oldest first [per mille] */
    int32_t count;                      /* samples appended since the last reset */
    int32_t lastFlag;                   /* flag of the last append: 0 = last recorded sample */
} BsplineFit;

#ifdef __cplusplus
}
#endif

#endif /* KXMC_HOST_TYPES_H */
