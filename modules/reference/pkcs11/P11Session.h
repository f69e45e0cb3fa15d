#pragma once
// The concrete token session. Its state lives in a SessionCore shared with
// the OpenSSL keys made from it, so a key used after its session closed
// fails cleanly instead of touching a closed handle.

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/Outcome.h"
#include "core/Secret.h"
#include "pkcs11/P11Util.h"
#include "pkcs11/TokenSession.h"

namespace ref {

class SessionCore {
  public:
    SessionCore(P11Module module, CK_SLOT_ID slot, CK_SESSION_HANDLE handle, TokenInfo token);
    ~SessionCore();
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    const TokenInfo& token() const { return token_; }
    // Distinguishes this session's recorded key failures from others'.
    uint64_t id() const { return id_; }

    void Login(const Secret* pin);
    // Logs out if this session logged in, closes; later calls fail with kNoToken.
    void Close() noexcept;

    // The private key objects with this CKA_ID (at most limit).
    std::vector<CK_OBJECT_HANDLE> FindPrivateKeys(ByteView id, size_t limit);
    std::optional<CK_ULONG> KeyUlong(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type);
    std::optional<Bytes> KeyAttribute(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type);
    bool KeyBool(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type, bool fallback);

    // One operation with a private key. outSize: the largest result
    // expected. alwaysAuth: the key wants a context-specific login per use.
    // Throw Failure.
    Bytes Sign(CK_OBJECT_HANDLE key, bool alwaysAuth, CK_MECHANISM mechanism, ByteView data,
               size_t outSize);
    Bytes Decrypt(CK_OBJECT_HANDLE key, bool alwaysAuth, CK_MECHANISM mechanism, ByteView data,
                  size_t outSize);
    // ECDH (CKD_NULL) with the peer's uncompressed point; the shared secret
    // of secretSize bytes.
    Bytes Derive(CK_OBJECT_HANDLE key, bool alwaysAuth, ByteView peerPoint, size_t secretSize);

    // Object work (TokenSession's).
    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE>& match, size_t limit);
    CK_OBJECT_HANDLE Create(std::vector<CK_ATTRIBUTE>& attributes);
    void SetAttributes(CK_OBJECT_HANDLE object, std::vector<CK_ATTRIBUTE>& attributes);
    void Destroy(CK_OBJECT_HANDLE object);
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GenerateKeyPair(
        CK_MECHANISM& mechanism, std::vector<CK_ATTRIBUTE>& publicTemplate,
        std::vector<CK_ATTRIBUTE>& privateTemplate);
    std::vector<CK_MECHANISM_TYPE> Mechanisms();

  private:
    // Callers hold mutex_.
    void RequireOpen(const char* function) const;
    Failure FailureFor(const std::string& function, CK_RV rv) const;
    bool TokenGone() const;
    // What the token says of the user PIN's remaining tries.
    std::string TriesLeft(bool& locked) const;
    void ContextLogin(const char* function);

    P11Module module_;
    CK_FUNCTION_LIST* fn_;
    CK_SLOT_ID slot_;
    CK_SESSION_HANDLE handle_;
    TokenInfo token_;
    uint64_t id_;

    mutable std::mutex mutex_;
    bool open_ = true;
    bool loggedIn_ = false;  // by this session: only then does it log out
    bool pinpadLogin_ = false;
    Secret pin_;  // for context-specific logins; wiped on close
};

class P11Session final : public TokenSession {
  public:
    explicit P11Session(std::shared_ptr<SessionCore> core) : core_(std::move(core)) {}
    ~P11Session() override;

    const TokenInfo& token() const override { return core_->token(); }
    void Login(const Secret* pin) override;
    EvpPkeyPtr PrivateKey(ByteView id, X509* cert) override;
    bool HasPrivateKey(ByteView id) override;
    void ThrowIfFailed(const char* operation) override;
    EvpPkeyPtr PrivateKeyFor(ByteView id, EVP_PKEY* publicKey) override;

    std::vector<CK_OBJECT_HANDLE> FindObjects(std::vector<CK_ATTRIBUTE> match,
                                              size_t limit) override;
    std::optional<Bytes> Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) override;
    CK_OBJECT_HANDLE CreateObject(std::vector<CK_ATTRIBUTE> attributes) override;
    void SetAttributes(CK_OBJECT_HANDLE object, std::vector<CK_ATTRIBUTE> attributes) override;
    void DestroyObject(CK_OBJECT_HANDLE object) override;
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GenerateKeyPair(
        CK_MECHANISM mechanism, std::vector<CK_ATTRIBUTE> publicTemplate,
        std::vector<CK_ATTRIBUTE> privateTemplate) override;
    std::vector<CK_MECHANISM_TYPE> Mechanisms() override;

  private:
    std::shared_ptr<SessionCore> core_;
};

}  // namespace ref
