#include "tomcryptutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int hash_idx = -1;
int prng_idx = -1;

namespace {

constexpr unsigned long sha1Size = 20;
constexpr long publicExponent = 65537;
constexpr unsigned long firstReadSize = 4096;

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
    return verify_hash(key, digest, sig, sigLen);
}

bool verify_hash(Rsa_key* key, const unsigned char* digest, unsigned char* sig, unsigned long sigLen)
{
    int valid = 0;
    const int code = rsa_verify_hash_ex(sig, sigLen, digest, sha1Size, LTC_PKCS_1_PSS, hash_idx, pssSaltLength,
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

bool isSupportedKeySize(int bits)
{
    return bits == 1024 || bits == 2048 || bits == largestKeyBits;
}

int create_key(Rsa_key* key)
{
    create_key(key, namedKeyBits);
    return CRYPT_OK;
}

void create_key(Rsa_key* key, int bits)
{
    if (!isSupportedKeySize(bits))
        throw crypt_exception("key size must be 1024, 2048 or 3072 bits, not " + std::to_string(bits));
    check_err("rsa_make_key", rsa_make_key(nullptr, prng_idx, bits / 8, publicExponent, key));
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

void export_key_block(Rsa_key* key, int type, unsigned char* block)
{
    std::memset(block, 0, keyBlockSize);
    unsigned long length = keyBlockSize;
    check_err("rsa_export", rsa_export(block, &length, type, key));
}

std::string key_fingerprint(Rsa_key* key)
{
    unsigned char der[keyBlockSize];
    unsigned long length = sizeof der;
    check_err("rsa_export", rsa_export(der, &length, PK_PUBLIC, key));
    unsigned char digest[20];
    hash_msg(der, length, digest);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned n = 0; n < sizeof digest; ++n) {
        if (n > 0 && n % 2 == 0)
            text += ' ';
        text += hex[digest[n] >> 4];
        text += hex[digest[n] & 15];
    }
    return text;
}

void save_key(Rsa_key* key, int type, const char* fileName)
{
    unsigned char block[keyBlockSize];
    export_key_block(key, type, block);
    commit_staged_file(stage_file(fileName, block, sizeof block, type == PK_PRIVATE), fileName);
}

void read_file(const char* fileName, unsigned char** data, unsigned long* len)
{
    *len = 0;
    OpenFile file(fileName, "rb");
    if (!file.get())
        throw crypt_exception(std::string("Cannot open file for reading: ") + fileName);
    // Sized from the file, one byte more to see its end at once; grown by doubling when
    // the file grows meanwhile or has no size (a pipe).
    struct stat info{};
    unsigned long capacity = firstReadSize;
    if (::fstat(::fileno(file.get()), &info) == 0 && info.st_size > 0)
        capacity = static_cast<unsigned long>(info.st_size) + 1;
    for (;;) {
        auto* grown = static_cast<unsigned char*>(std::realloc(*data, capacity));
        if (!grown)
            throw crypt_exception(std::string("Out of memory reading ") + fileName);
        *data = grown;
        *len += std::fread(*data + *len, 1, capacity - *len, file.get());
        if (*len < capacity)
            break;
        capacity *= 2;
    }
    if (std::ferror(file.get()))
        throw crypt_exception(std::string("Cannot read file: ") + fileName);
}

void write_file(const char* fileName, unsigned char* data, unsigned long len)
{
    commit_staged_file(stage_file(fileName, data, len, false), fileName);
}

std::string stage_file(const char* fileName, const unsigned char* data, unsigned long len, bool privateFile)
{
    std::string stagedName = std::string(fileName) + ".XXXXXX";
    const int fd = ::mkstemp(stagedName.data()); // mode 0600
    if (fd < 0)
        throw crypt_exception(std::string("Cannot open file for writing: ") + fileName);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool written = privateFile || ::fchmod(fd, 0666 & ~mask) == 0;
    for (unsigned long done = 0; written && done < len;) {
        const ssize_t count = ::write(fd, data + done, len - done);
        written = count > 0;
        done += written ? static_cast<unsigned long>(count) : 0;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written) {
        discard_staged_file(stagedName);
        throw crypt_exception(std::string("Cannot write file: ") + fileName);
    }
    return stagedName;
}

void commit_staged_file(const std::string& stagedName, const char* fileName)
{
    if (std::rename(stagedName.c_str(), fileName) != 0) {
        discard_staged_file(stagedName);
        throw crypt_exception(std::string("Cannot write file: ") + fileName);
    }
}

void discard_staged_file(const std::string& stagedName)
{
    ::unlink(stagedName.c_str());
}
