#pragma once
// The certificate a named seal is bound to, for signing with the seal.

#include <string>

#include "control/MainControl.h"

namespace ref {

struct SealBinding {
    std::string name;
    std::string certSerial;  // the bound certificate's serial (hex)
};

// Reads the seal record of that name from the software store's seal folder
// (<sha256 of the name>.json). Throws kNotFound when there is none,
// kMalformed when the record cannot be read.
SealBinding FindSealBinding(const MainControl& control, const std::string& name);

}  // namespace ref
