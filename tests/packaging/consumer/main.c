/* A minimal host: defines the three records and uses the library's numerics. */
#include <stdio.h>

#include <kxmc/kxmcforcetorque.h>

MotionControlBlock mcb;
MotionParamBlock mpb;
HardwareOutWord how;

int main(void) {
    double a[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
    double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double p[9];
    MatrixMul3(a, id, p);
    for (int i = 0; i < 9; ++i) {
        if (p[i] != a[i]) {
            printf("MatrixMul3 wrong\n");
            return 1;
        }
    }
    printf("consumer ok\n");
    return 0;
}
