// The publisher's signing tool: makes key pairs, signs files (writing FILE.sig) and
// verifies signatures, with the updater's signature scheme.
#include "signing.h"
#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

enum ExitCode { Ok = 0, VerificationFailed = 1, UsageError = 2, Failure = 3 };

const char* const usage =
    "usage:\n"
    "  vx5-sign genkey [--force] [--bits N] PRIVATE_KEY PUBLIC_KEY\n"
    "                                           make a key pair of N bits: 1024, 2048 or 3072\n"
    "                                           (default 3072; 2048-byte key blocks);\n"
    "                                           existing key files are kept unless --force\n"
    "  vx5-sign sign PRIVATE_KEY FILE           sign FILE, writing FILE.sig\n"
    "  vx5-sign verify PUBLIC_KEY FILE [SIG]    check FILE against SIG (default FILE.sig)\n"
    "  vx5-sign fingerprint KEY                 the key pair's fingerprint (from either key)\n"
    "  vx5-sign --help\n"
    "Signatures are RSASSA-PSS with SHA-1 and an 8-byte salt. Exit codes: 0 done or valid,\n"
    "1 signature does not match or is malformed, 2 usage error (also: the same file twice,\n"
    "or key files that exist, without --force), 3 unreadable or unwritable file or bad key.\n";

struct KeyRequest
{
    bool valid = false;
    std::string refusal; // a mistake worth naming
    bool force = false;
    int bits = defaultKeyBits;
    std::string privatePath;
    std::string publicPath;
};

// genkey's arguments: the options in any order, then the two key files.
KeyRequest keyRequest(int argc, char* argv[])
{
    KeyRequest request;
    int next = 2;
    for (; next < argc - 2; ++next) {
        const std::string option = argv[next];
        if (option == "--force" && !request.force) {
            request.force = true;
        } else if (option == "--bits" && next + 1 < argc - 2) {
            char* end = nullptr;
            const long bits = std::strtol(argv[++next], &end, 10);
            if (*end != '\0' || bits != static_cast<int>(bits) || !isSupportedKeySize(static_cast<int>(bits))) {
                request.refusal = std::string("--bits ") + argv[next] + ": key sizes are 1024, 2048 and 3072 bits";
                return request;
            }
            request.bits = static_cast<int>(bits);
        } else {
            return request;
        }
    }
    request.valid = next == argc - 2;
    if (request.valid) {
        request.privatePath = argv[next];
        request.publicPath = argv[next + 1];
    }
    return request;
}

int verify(const std::string& keyPath, const std::string& filePath, const std::string& signaturePath)
{
    std::string reason;
    switch (verifyFile(keyPath, filePath, signaturePath, &reason)) {
    case Verification::Valid:
        std::printf("%s: signature valid\n", filePath.c_str());
        return Ok;
    case Verification::Mismatch:
        std::printf("%s: signature does NOT match\n", filePath.c_str());
        return VerificationFailed;
    case Verification::Malformed:
        std::printf("%s: signature is malformed (%s)\n", filePath.c_str(), reason.c_str());
        return VerificationFailed;
    }
    return Failure;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h") {
        std::fputs(usage, stdout);
        return Ok;
    }
    try {
        crypt_init();
        const KeyRequest request = command == "genkey" ? keyRequest(argc, argv) : KeyRequest();
        if (!request.refusal.empty()) {
            std::fprintf(stderr, "vx5-sign: %s\n", request.refusal.c_str());
            return UsageError;
        }
        if (request.valid) {
            const std::string refusal = keyPairRefusal(request.privatePath, request.publicPath, request.force);
            if (!refusal.empty()) {
                std::fprintf(stderr, "vx5-sign: %s\n", refusal.c_str());
                return UsageError;
            }
            generateKeyPair(request.privatePath, request.publicPath, request.bits);
            std::printf("wrote %d-bit private key %s and public key %s\nkey fingerprint: %s\n", request.bits,
                        request.privatePath.c_str(), request.publicPath.c_str(),
                        keyFileFingerprint(request.publicPath).c_str());
            return Ok;
        }
        if (command == "sign" && argc == 4) {
            std::printf("wrote %s\n", signFile(argv[2], argv[3]).c_str());
            return Ok;
        }
        if (command == "fingerprint" && argc == 3) {
            std::printf("key fingerprint: %s\n", keyFileFingerprint(argv[2]).c_str());
            return Ok;
        }
        if (command == "verify" && (argc == 4 || argc == 5))
            return verify(argv[2], argv[3], argc == 5 ? argv[4] : std::string(argv[3]) + ".sig");
    } catch (const crypt_exception& e) {
        std::fprintf(stderr, "vx5-sign: %s\n", e.what());
        return Failure;
    }
    std::fputs(usage, stderr);
    return UsageError;
}
