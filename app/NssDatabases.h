#pragma once
// The user's NSS certificate databases that browsers read.

#include <string>
#include <vector>

namespace zqt {

struct NssDatabase {
    std::string directory;  // holds (or will hold) cert9.db
    bool shared = false;    // Chromium's shared database, made when missing
};

// Chromium's $HOME/.pki/nssdb first (whether it exists or not), then every
// Firefox profile under $HOME/.mozilla/firefox that holds a cert9.db, in name
// order. Older profiles with only cert8.db are not touched: certutil would
// have to upgrade them.
std::vector<NssDatabase> FindNssDatabases(const std::string& home);

// True when directory holds a cert9.db.
bool HasNssDatabase(const std::string& directory);

}  // namespace zqt
