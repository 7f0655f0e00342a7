#pragma once
// A certificate and its key for 127.0.0.1 and localhost, made by the openssl
// command as a desk's administrator would make one; it is its own CA.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarvex::test {

struct TestCertificate {
    std::filesystem::path certificate, key;
};

// Empty paths when openssl could not make them.
inline TestCertificate MakeTestCertificate(const std::filesystem::path& folder, const std::string& name = "desk") {
    const TestCertificate made{folder / (name + ".crt"), folder / (name + ".key")};
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                "-subj /CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                                made.key.string() + "' -out '" + made.certificate.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    return made;
}

}  // namespace tarvex::test
