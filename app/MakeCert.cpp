#include "app/MakeCert.h"

#include <array>
#include <ctime>

#include "app/NewFiles.h"
#include "app/SelfSignedCertificate.h"

namespace zqt {

MakeCertResult MakeCertificateFiles(const std::string& directory) {
    std::string error;
    const auto pem = MakeSelfSignedCertificate(std::time(nullptr), error);
    if (!pem) {
        return {false, "cannot make the certificate: " + error};
    }
    // The key goes first: when the certificate then fails, the key is removed.
    const std::array<NewFile, 2> files = {{
        {kPrivateKeyFileName, pem->privateKey.value(), 0600},
        {kCertificateFileName, pem->certificate, 0644},
    }};
    if (auto failure = WriteNewFiles(directory, files)) {
        return {false, *failure};
    }
    const std::string prefix =
        directory.empty() || directory.back() == '/' ? directory : directory + "/";
    return {true,
            "wrote " + prefix + kCertificateFileName + " and " + prefix + kPrivateKeyFileName};
}

}  // namespace zqt
