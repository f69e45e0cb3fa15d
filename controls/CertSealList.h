#pragma once
// The certificate-and-seal list: read from the side library, cached process-wide.

#include <mutex>
#include <string>

// One read each: load "libULVO_LIB_client.so", call its export by the buffer
// protocol, unload. Any failure yields the empty text.
std::u16string ReadCertAndSealList();
std::u16string ReadCertAndSealListXEPA();

// The cached list. Lock order: the dispatch lock, then listLock.
struct CertSealListCache {
    std::mutex listLock;
    std::u16string text;  // guarded by listLock
};

CertSealListCache& TheCertSealListCache();
