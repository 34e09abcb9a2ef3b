#include "signing.h"

#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <climits>
#include <libgen.h>
#include <sys/stat.h>

namespace {

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

bool exists(const std::string& path)
{
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0;
}

// The path with its directory resolved, so that "a.key" and "./a.key" compare equal.
std::string resolvedPath(const std::string& path)
{
    std::string copy = path;
    std::string base = path;
    char resolved[PATH_MAX];
    if (!::realpath(::dirname(copy.data()), resolved))
        return path;
    return std::string(resolved) + "/" + ::basename(base.data());
}

} // namespace

std::string keyPairRefusal(const std::string& privatePath, const std::string& publicPath, bool overwrite)
{
    if (resolvedPath(privatePath) == resolvedPath(publicPath))
        return "the private and the public key need two different files";
    for (const std::string& path : {privatePath, publicPath}) {
        if (!overwrite && exists(path))
            return path + " exists; pass --force to replace it";
    }
    return std::string();
}

void generateKeyPair(const std::string& privatePath, const std::string& publicPath, int bits)
{
    Key key;
    create_key(&key.key, bits);
    key.loaded = true;
    unsigned char privateBlock[keyBlockSize];
    unsigned char publicBlock[keyBlockSize];
    export_key_block(&key.key, PK_PRIVATE, privateBlock);
    export_key_block(&key.key, PK_PUBLIC, publicBlock);

    const std::string stagedPrivate = stage_file(privatePath.c_str(), privateBlock, keyBlockSize, true);
    std::string stagedPublic;
    try {
        stagedPublic = stage_file(publicPath.c_str(), publicBlock, keyBlockSize, false);
    } catch (const crypt_exception&) {
        discard_staged_file(stagedPrivate);
        throw;
    }
    try {
        commit_staged_file(stagedPrivate, privatePath.c_str());
    } catch (const crypt_exception&) {
        discard_staged_file(stagedPublic);
        throw;
    }
    try {
        commit_staged_file(stagedPublic, publicPath.c_str());
    } catch (const crypt_exception&) {
        std::remove(privatePath.c_str()); // a private key without its public key is of no use
        throw;
    }
}

namespace {

void loadPrivateKeyFile(Key& key, const std::string& path)
{
    loadKeyFile(key, path);
    if (key.key.type != PK_PRIVATE)
        throw crypt_exception(path + " holds a public key; signing needs the private key");
}

} // namespace

std::string signingKeyFingerprint(const std::string& privateKeyPath)
{
    Key key;
    loadPrivateKeyFile(key, privateKeyPath);
    return key_fingerprint(&key.key);
}

std::string signFile(const std::string& privateKeyPath, const std::string& filePath)
{
    Key key;
    loadPrivateKeyFile(key, privateKeyPath);
    FileBytes content;
    read_file(filePath.c_str(), &content.data, &content.length);
    std::vector<unsigned char> signature(rsa_get_size(&key.key)); // as long as the modulus
    unsigned long signatureLength = signature.size();
    sign_msg(&key.key, content.data, content.length, signature.data(), &signatureLength);
    const std::string signaturePath = filePath + ".sig";
    write_file(signaturePath.c_str(), signature.data(), signatureLength);
    return signaturePath;
}

std::string keyFileFingerprint(const std::string& keyPath)
{
    Key key;
    loadKeyFile(key, keyPath);
    return key_fingerprint(&key.key);
}

Verification verifyFile(const std::string& publicKeyPath, const std::string& filePath,
                        const std::string& signaturePath, std::string* malformedReason)
{
    Key key;
    loadKeyFile(key, publicKeyPath);
    FileBytes content;
    FileBytes signature;
    read_file(filePath.c_str(), &content.data, &content.length);
    read_file(signaturePath.c_str(), &signature.data, &signature.length);
    try {
        return verify_msg(&key.key, content.data, content.length, signature.data, signature.length)
                   ? Verification::Valid
                   : Verification::Mismatch;
    } catch (const crypt_exception& e) {
        *malformedReason = e.what();
        return Verification::Malformed;
    }
}
