// The folder that holds the data file, the user, temp and html folders.
#pragma once
#include <string>

struct HomePaths {
    std::string home;
    std::string data_file;      // tarnbox.dat
    std::string user_folder;    // user
    std::string temp_folder;    // temp
    std::string html_folder;    // html
    std::string lock_file;      // tarnbox.lock
    std::string control_socket; // tarnbox.sock: a running gateway's door for commands
    // mail-ca.pem: authorities trusted for mail servers beside the system's.
    std::string mail_ca_file;
    // https-cert.pem and https-key.pem: the HTTPS listener's certificate
    // chain (its own certificate first) and private key.
    std::string https_cert_file;
    std::string https_key_file;
};

// Without --home the folder of the program file itself is the home.
std::string program_folder();
HomePaths make_home_paths(const std::string& home);
