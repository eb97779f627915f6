// Storage of the excitation identification's solution (zero at load: no run active).
#include "payload/excitation_state.hpp"

kxmc::ExcitationSolution solveX;
