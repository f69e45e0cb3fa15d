// The harness's fake pinentry, built here for the same reason.
#include "support/FakePinentry.cpp"
