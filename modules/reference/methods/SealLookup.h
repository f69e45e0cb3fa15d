#pragma once
// The certificate a named seal is bound to, for signing with the seal.

#include <string>

#include "control/MainControl.h"

namespace ref {

struct SealBinding {
    std::string name;
    std::string certSerial;  // the bound certificate's serial (hex)
};

// The seal of that name on any token (read without login) or in the seal
// folder; a picture before other types. Throws kBadParam for an empty name,
// kNotFound when there is no such seal or it is bound to no certificate.
SealBinding FindSealBinding(MainControl& control, const std::string& name);

}  // namespace ref
