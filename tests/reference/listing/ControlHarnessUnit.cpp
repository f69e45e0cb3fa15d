// The control tests' harness (a scratch home, a token, the main control as
// the host loads it), built into this binary as well: these tests read the
// same home through the list library and through the control.
#include "control/ControlHarness.cpp"
