// The parameter sets are internal to the library (hidden symbols); the tests build their own
// copy of the translation unit to read the same tables the blocks are fed with.
#include "dynamics/arm_parameters.cpp"
