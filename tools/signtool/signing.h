#pragma once

// The publisher's signing operations, shared by the signing tool and the release tool.
// Every failure throws crypt_exception with a text for the user; crypt_init() must have
// run.

#include <string>

enum class Verification { Valid, Mismatch, Malformed };

// Why a key pair must not be written to these paths (the same file twice, or an existing
// file without overwrite), or an empty text when it may.
std::string keyPairRefusal(const std::string& privatePath, const std::string& publicPath, bool overwrite);

// Writes a new key pair of the given size (isSupportedKeySize): both files or, on any
// failure, neither. Check keyPairRefusal first.
void generateKeyPair(const std::string& privatePath, const std::string& publicPath, int bits);

// The fingerprint of the private key in the file; throws when it holds none.
std::string signingKeyFingerprint(const std::string& privateKeyPath);

// Signs the file with the private key, writing FILE.sig; returns the signature's path.
std::string signFile(const std::string& privateKeyPath, const std::string& filePath);

// The fingerprint of the key in a key file (private or public), as key_fingerprint gives it.
std::string keyFileFingerprint(const std::string& keyPath);

// The fingerprint of the project's test-and-demo key pair (tools/keys/): its private key is
// public, so nothing it signs is worth trusting.
constexpr char testAndDemoKeyFingerprint[] = "1f75 8d8f ea44 558c 71d8 6ce8 d7d6 0284 c7bf 8f4c";

// Checks the file against the signature. malformedReason receives the library's text
// when the signature cannot be one at all (empty, cut, too long).
Verification verifyFile(const std::string& publicKeyPath, const std::string& filePath,
                        const std::string& signaturePath, std::string* malformedReason);
