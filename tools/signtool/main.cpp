// The publisher's signing tool: makes key pairs, signs files (writing FILE.sig) and
// verifies signatures, with the updater's signature scheme.
#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

enum ExitCode { Ok = 0, VerificationFailed = 1, UsageError = 2, Failure = 3 };

const char* const usage =
    "usage:\n"
    "  vx5-sign genkey PRIVATE_KEY PUBLIC_KEY   make a 1024-bit key pair (2048-byte key blocks)\n"
    "  vx5-sign sign PRIVATE_KEY FILE           sign FILE, writing FILE.sig\n"
    "  vx5-sign verify PUBLIC_KEY FILE [SIG]    check FILE against SIG (default FILE.sig)\n"
    "  vx5-sign --help\n"
    "Signatures are RSASSA-PSS with SHA-1 and an 8-byte salt. Exit codes: 0 done or valid,\n"
    "1 signature does not match, 2 usage error, 3 unreadable file or bad key.\n";

// A loaded key, freed on every way out.
struct Key
{
    Rsa_key key{};
    bool loaded = false;
    ~Key()
    {
        if (loaded)
            rsa_free(&key);
    }
};

// The whole content of a file, freed on every way out.
struct FileBytes
{
    unsigned char* data = nullptr;
    unsigned long length = 0;
    ~FileBytes() { std::free(data); }
};

void loadKeyFile(Key& key, const std::string& path)
{
    // load_key alone would report an unreadable file as an import error.
    FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        throw crypt_exception("Cannot open file for reading: " + path);
    std::fclose(probe);
    try {
        load_key(&key.key, path.c_str());
    } catch (const crypt_exception& e) {
        throw crypt_exception(path + " is not a key block (" + e.what() + ")");
    }
    key.loaded = true;
}

int generateKeys(const std::string& privatePath, const std::string& publicPath)
{
    Key key;
    create_key(&key.key);
    key.loaded = true;
    save_key(&key.key, PK_PRIVATE, privatePath.c_str());
    save_key(&key.key, PK_PUBLIC, publicPath.c_str());
    std::printf("wrote private key %s and public key %s\n", privatePath.c_str(), publicPath.c_str());
    return Ok;
}

int signFile(const std::string& keyPath, const std::string& filePath)
{
    Key key;
    loadKeyFile(key, keyPath);
    if (key.key.type != PK_PRIVATE)
        throw crypt_exception(keyPath + " holds a public key; signing needs the private key");
    FileBytes content;
    read_file(filePath.c_str(), &content.data, &content.length);
    unsigned char signature[keySizeBytes * 2];
    unsigned long signatureLength = sizeof signature;
    sign_msg(&key.key, content.data, content.length, signature, &signatureLength);
    const std::string signaturePath = filePath + ".sig";
    write_file(signaturePath.c_str(), signature, signatureLength);
    std::printf("wrote %s\n", signaturePath.c_str());
    return Ok;
}

int verifyFile(const std::string& keyPath, const std::string& filePath, const std::string& signaturePath)
{
    Key key;
    loadKeyFile(key, keyPath);
    FileBytes content;
    FileBytes signature;
    read_file(filePath.c_str(), &content.data, &content.length);
    read_file(signaturePath.c_str(), &signature.data, &signature.length);
    if (!verify_msg(&key.key, content.data, content.length, signature.data, signature.length)) {
        std::printf("%s: signature does NOT match\n", filePath.c_str());
        return VerificationFailed;
    }
    std::printf("%s: signature valid\n", filePath.c_str());
    return Ok;
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
        if (command == "genkey" && argc == 4)
            return generateKeys(argv[2], argv[3]);
        if (command == "sign" && argc == 4)
            return signFile(argv[2], argv[3]);
        if (command == "verify" && (argc == 4 || argc == 5))
            return verifyFile(argv[2], argv[3], argc == 5 ? argv[4] : std::string(argv[3]) + ".sig");
    } catch (const crypt_exception& e) {
        std::fprintf(stderr, "vx5-sign: %s\n", e.what());
        return Failure;
    }
    std::fputs(usage, stderr);
    return UsageError;
}
