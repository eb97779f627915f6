// The shared object hides its internal C++ functions, so the tests build their own copy of the
// rigid-body parameter sets from the same source to feed the exported blocks and the static
// gravity model with the set of each model code.
#include "dynamics/arm_parameters.cpp"
