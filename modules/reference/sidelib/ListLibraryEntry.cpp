// The list library's exports (GetCertAndSeallist, GetCertAndSeallistXEPA).
#include "zqtca/cert_seal_list.h"
