#pragma once
// ZQT_GetDevInfoList(Ex): the devices as JSON.

#include <string>

namespace ref {

class EnrolControl;

// A JSON array: per device name, kind ("pkcs11"/"soft"), module, label,
// serial, model, manufacturer, pinpad, loginRequired, keySpecs; with
// details also its certificates (sn, cn, notAfter) and pending keys (id,
// label, kind). A token that vanishes while it is read is left out.
std::string DeviceInfoJson(EnrolControl& control, bool details);

}  // namespace ref
