// The shared object hides its internal C++ functions, so the tests build their own copies of
// the parameter code (the rigid-body sets and their grouping onto the self-test chains) from
// the same sources. The exported self-test functions under test are the library's.
#include "dynamics/arm_parameters.cpp"
#include "jointid/selftest_parameters.cpp"
