#pragma once
// The main control: one per process, shared by every request (which run one
// at a time). It holds the user's choice of certificate and algorithms, the
// last error, the content of the last verified signature, and the SM2
// signing window.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "control/MethodTable.h"
#include "core/Config.h"
#include "crypto/Algorithms.h"
#include "crypto/Trust.h"
#include "inventory/Inventory.h"
#include "pkcs11/Pkcs11Registry.h"
#include "store/SoftStore.h"
#include "zqtca/control_module.h"

namespace ref {

class UnlockedKey;

// The content of the last verified attached signature (or opened envelope).
struct ContentBuffer {
    Bytes bytes;
    bool binary = false;  // given back as Base64 rather than as text
    bool present = false;
};

// A key unlocked once by an *Init method, used without asking again until
// the matching *Final or the end of the window.
struct KeyWindow {
    Bytes certDer;
    std::shared_ptr<UnlockedKey> key;
    std::chrono::steady_clock::time_point until;
};

class MainControl {
  public:
    MainControl();
    ~MainControl();
    MainControl(const MainControl&) = delete;
    MainControl& operator=(const MainControl&) = delete;

    // Runs one invocation; returns non-zero when it fits no method row.
    int32_t Invoke(int32_t dispid, const zqt_value* args, uint32_t argc, zqt_value* result);

    Config config;
    Pkcs11Registry tokens;
    SoftStore store;
    Inventory inventory;
    TrustStore trust;

    StoreFilter filter;
    Criteria criteria;
    Hash hash = Hash::kSha256;
    std::string cipher = "AES-256-CBC";
    bool oaep = false;

    ContentBuffer content;
    std::optional<KeyWindow> signWindow;  // SM2SignInit or SM2DecryptInit
    bool sm2EncryptOpen = false;          // between SM2EncryptInit and SM2EncryptFinal

    int32_t lastCode = 0;
    std::string lastMessage = "OK";

    // The origin of the page whose request runs now (empty: none given),
    // as the host told it; named in every prompt.
    std::string caller;

    // The window's key when it is open, unexpired and for this certificate.
    std::shared_ptr<UnlockedKey> WindowKey(ByteView certDer);
    void CloseWindow();

  private:
    void Record(int32_t code, const std::string& message);
    std::u16string resultText_;
};

}  // namespace ref
