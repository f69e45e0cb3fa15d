#pragma once
// The codes a method answers with, and the one internal error that carries
// them from deep inside an operation to the method boundary.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ref {

enum Code : int32_t {
    kOk = 0,
    kBadParam = -2,       // parameter missing or malformed
    kUnsupported = -3,    // not supported (vendor-specific, no mechanism)
    kNotFound = -4,       // certificate not found or ambiguous
    kNoToken = -5,        // no token, device not present
    kCancelled = -6,      // PIN entry cancelled, timed out, or no pinentry usable
    kBadPin = -7,         // PIN or password incorrect
    kPinLocked = -8,      // PIN locked
    kNoKey = -9,          // private key not found for the certificate
    kKeyType = -10,       // key type does not fit the command
    kBadSignature = -11,  // signature invalid
    kUntrusted = -12,     // certificate not trusted
    kExpired = -13,       // certificate expired or not yet valid
    kDecrypt = -14,       // decryption failed, not a recipient
    kMalformed = -15,     // malformed Base64, DER, PKCS#12
    kFile = -16,          // file error
    kPolicy = -17,        // refused by policy
    kState = -18,         // state error (Final without Init)
    kPkcs11 = -19,        // other PKCS#11 error
    kInternal = -20,      // internal error
};

// Thrown by any layer; caught once, where a method's answer is made.
class Failure : public std::runtime_error {
  public:
    Failure(int32_t code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int32_t code() const noexcept { return code_; }

  private:
    int32_t code_;
};

[[noreturn]] inline void Fail(int32_t code, const std::string& message) {
    throw Failure(code, message);
}

}  // namespace ref
