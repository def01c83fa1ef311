// Secrets for mail servers that the data file has no room for: a settings
// set's own SMTP login, OAuth2 tokens. They live in <user folder>/
// mail-credentials, sealed with AES-256-GCM under a key of 32 random bytes in
// <home>/credentials.key (made on the first write, mode 0600), so a copy of
// the data area alone gives nothing away.
//
// An entry belongs to a gateway user (the POP3 user name of Settings 1) and
// to one mailbox (the set's POP3 user name and server): when a set changes
// its mailbox or the user goes, the entry goes with the next prune instead of
// serving the new mailbox. Callers hold globalLock.
#pragma once
#include <map>
#include <string>

struct UserTable;

class MailCredentials {
public:
    void set_paths(std::string file, std::string keyFile);

    // Reads the file; none yet is an empty store. False with why when it
    // cannot be read or opened with the key: then every write is refused,
    // so a damaged or foreign file is never replaced by an empty one.
    bool load(std::string& why);

    std::string get(const char* owner, const char* id, const char* server, const char* name) const;
    // Sets a value (empty removes it) and writes the whole store. False with
    // why, the store in memory unchanged.
    bool put(const char* owner, const char* id, const char* server, const char* name,
             const std::string& value, std::string& why);
    // Drops what no set of the table names any more, and writes when that
    // changed anything.
    bool prune(const UserTable& users, std::string& why);

    size_t size() const { return entries_.size(); }

private:
    bool write(const std::map<std::string, std::string>& entries, std::string& why);
    std::string file_, keyFile_;
    std::map<std::string, std::string> entries_;
    bool readable_ = true;
};

// The sealed form, apart for tests: seal(open(x)) round trips; open refuses
// anything altered.
std::string seal_credentials(const std::string& plain, const unsigned char key[32]);
bool open_credentials(const std::string& sealed, const unsigned char key[32], std::string& plain);
