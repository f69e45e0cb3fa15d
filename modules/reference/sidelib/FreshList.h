#pragma once
// One enumeration for one read of the list library: the tokens, the store
// and the seal folder as the main control's configuration names them.

#include <string>

#include "listing/CertSealList.h"

namespace ref {

// The list as it is now, "" when nothing is found or anything fails. Loads
// its own PKCS#11 modules and finalises them before it returns, since the
// host unloads the library after each read. Never throws.
std::string FreshList(ListForm form) noexcept;

}  // namespace ref
