#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int hash_idx = -1;
int prng_idx = -1;

namespace {

constexpr unsigned long sha1Size = 20;
constexpr long publicExponent = 65537;
constexpr unsigned long readChunk = 2048;

// Closes the file however the caller leaves.
class OpenFile
{
public:
    OpenFile(const char* name, const char* mode) : file(std::fopen(name, mode)) {}
    ~OpenFile()
    {
        if (file)
            std::fclose(file);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    FILE* get() const { return file; }

private:
    FILE* file;
};

} // namespace

void crypt_init()
{
    if (register_prng(&sprng_desc) == -1)
        throw crypt_exception("Error registering sprng");
    ltc_mp = ltm_desc;
    if (register_hash(&sha1_desc) == -1)
        throw crypt_exception("Error registering sha1");
    hash_idx = find_hash("sha1");
    prng_idx = find_prng("sprng");
}

void check_err(const char* name, int err)
{
    if (err != CRYPT_OK)
        throw crypt_exception(std::string(name) + ": " + error_to_string(err));
}

void hash_msg(const unsigned char* in, unsigned long len, unsigned char* out)
{
    hash_state state;
    sha1_init(&state);
    sha1_process(&state, in, len);
    sha1_done(&state, out);
}

bool verify_msg(Rsa_key* key, const unsigned char* msg, unsigned long msgLen, unsigned char* sig,
                unsigned long sigLen)
{
    unsigned char digest[sha1Size];
    hash_msg(msg, msgLen, digest);
    int valid = 0;
    const int code = rsa_verify_hash_ex(sig, sigLen, digest, sizeof digest, LTC_PKCS_1_PSS, hash_idx, pssSaltLength,
                                        &valid, key);
    // LibTomCrypt 1.18 reports a signature of the right length that does not decode to a
    // valid PSS encoding as an invalid packet: for us that is a signature that does not
    // match, not malformed input.
    if (code == CRYPT_INVALID_PACKET && sigLen == ltc_mp.unsigned_size(key->N))
        return false;
    check_err("rsa_verify_hash", code);
    return valid == 1;
}

void sign_msg(Rsa_key* key, const unsigned char* msg, unsigned long len, unsigned char* out, unsigned long* outLen)
{
    unsigned char digest[sha1Size];
    hash_msg(msg, len, digest);
    check_err("rsa_sign_hash", rsa_sign_hash_ex(digest, sizeof digest, out, outLen, LTC_PKCS_1_PSS, nullptr, prng_idx,
                                                hash_idx, pssSaltLength, key));
}

int create_key(Rsa_key* key)
{
    const int code = rsa_make_key(nullptr, prng_idx, keySizeBytes, publicExponent, key);
    check_err("rsa_make_key", code);
    return code;
}

void load_key(Rsa_key* key, const unsigned char* in, unsigned long len)
{
    check_err("rsa_import", rsa_import(in, len, key));
}

void load_key(Rsa_key* key, const char* fileName)
{
    // A file that cannot be read leaves the block empty, and the import reports it.
    unsigned char block[keyBlockSize] = {};
    OpenFile file(fileName, "rb");
    if (file.get())
        (void)std::fread(block, 1, sizeof block, file.get());
    check_err("rsa_import", rsa_import(block, sizeof block, key));
}

void save_key(Rsa_key* key, int type, const char* fileName)
{
    unsigned char block[keyBlockSize] = {};
    unsigned long length = sizeof block;
    check_err("rsa_export", rsa_export(block, &length, type, key));
    OpenFile file(fileName, "wb");
    if (!file.get() || std::fwrite(block, 1, sizeof block, file.get()) != sizeof block)
        throw crypt_exception(std::string("Cannot open file for writing: ") + fileName);
}

void read_file(const char* fileName, unsigned char** data, unsigned long* len)
{
    *len = 0;
    OpenFile file(fileName, "rb");
    if (!file.get())
        throw crypt_exception(std::string("Cannot open file for reading: ") + fileName);
    for (;;) {
        auto* grown = static_cast<unsigned char*>(std::realloc(*data, *len + readChunk));
        if (!grown)
            throw crypt_exception(std::string("Out of memory reading ") + fileName);
        *data = grown;
        const std::size_t count = std::fread(*data + *len, 1, readChunk, file.get());
        *len += count;
        if (count < readChunk)
            break;
    }
    if (std::ferror(file.get()))
        throw crypt_exception(std::string("Cannot read file: ") + fileName);
}

void write_file(const char* fileName, unsigned char* data, unsigned long len)
{
    OpenFile file(fileName, "wb");
    if (!file.get())
        throw crypt_exception(std::string("Cannot open file for writing: ") + fileName);
    if (std::fwrite(data, 1, len, file.get()) != len)
        throw crypt_exception(std::string("Cannot write file: ") + fileName);
}
