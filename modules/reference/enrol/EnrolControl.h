#pragma once
// The enrolment control: one per process. It holds the page's choice of
// device, key type and subject, the device list, and the last error.

#include <optional>
#include <string>
#include <vector>

#include "core/Config.h"
#include "enrol/Devices.h"
#include "enrol/EnrolKeys.h"
#include "inventory/Inventory.h"
#include "pkcs11/Pkcs11Registry.h"
#include "store/SoftStore.h"
#include "zqtca/control_module.h"

namespace ref {

class MethodArgs;

// What SetUSBKeyType chose.
struct EnrolChoice {
    Device device;
    KeySpec keySpec = KeySpec::kRsa2048;
    std::string subject;  // RFC 4514
};

class EnrolControl {
  public:
    EnrolControl();
    EnrolControl(const EnrolControl&) = delete;
    EnrolControl& operator=(const EnrolControl&) = delete;

    // Runs one invocation; returns non-zero when it fits no method row.
    int32_t Invoke(int32_t dispid, const zqt_value* args, uint32_t argc, zqt_value* result);

    Config config;
    Pkcs11Registry tokens;
    SoftStore store;
    Inventory inventory;

    std::vector<Device> devices;  // InitDevNameList's list
    std::optional<EnrolChoice> choice;

    int32_t lastCode = 0;
    std::string lastMessage = "OK";

    // The origin of the page whose request runs now (empty: none given),
    // as the host told it; named in every prompt.
    std::string caller;

    // Where pending software keys wait for their certificates.
    std::string PendingDir() const { return config.storeDir + "/pending"; }

  private:
    std::u16string resultText_;
};

// A text method returns UTF-8; a number method its code. Either throws
// Failure to report one.
using EnrolTextMethod = std::string (*)(EnrolControl&, const MethodArgs&);
using EnrolNumberMethod = int32_t (*)(EnrolControl&, const MethodArgs&);

struct EnrolRow {
    int32_t dispid;
    std::string_view args;  // one 'B' per string argument
    EnrolTextMethod text;
    EnrolNumberMethod number;
    bool queriesError;  // GetLastErrCode/GetLastErrMsg leave the last error alone
};

// The row of a dispatch id, or nullptr.
const EnrolRow* FindEnrolMethod(int32_t dispid);

}  // namespace ref
