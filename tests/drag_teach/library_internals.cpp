// The shared object hides its internal C++ functions, so the tests build their own copy of the
// rigid-body parameter sets from the same source to compute the gravity torque of each family's
// set with the exported static model.
#include "dynamics/arm_parameters.cpp"
