#pragma once

// RSA signatures of the update system over LibTomCrypt, with LibTomMath as its math
// provider. One scheme throughout: RSASSA-PSS (PKCS #1 v2.1) with SHA-1 as message
// digest and in MGF1, salt of 8 bytes, exponent 65537, keys of 1024, 2048 or 3072 bits
// (new keys 3072; 1024 for the updaters in the field that carry such a key).
//
// Keys travel as 2048-byte key blocks: the DER key as LibTomCrypt exports it (PKCS #1
// RSAPublicKey or RSAPrivateKey) at the start, the rest not significant; a 3072-bit
// private key is the largest that fits. A signature is the raw PSS signature, as long
// as the modulus (128, 256 or 384 bytes); verification takes the key's size from the key.
//
// Every failure throws crypt_exception. crypt_init() must run once, before anything else.

#include <exception>
#include <string>

#define LTM_DESC
#include <tomcrypt.h>

typedef rsa_key Rsa_key;

class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string message) : text(std::move(message)) {}
    const char* what() const noexcept override { return text.c_str(); }

private:
    std::string text;
};

constexpr unsigned long keyBlockSize = 2048;
constexpr int largestKeyBits = 3072; // the largest private key a key block holds
constexpr int defaultKeyBits = largestKeyBits;
constexpr unsigned long largestSignatureSize = largestKeyBits / 8;
constexpr unsigned long pssSaltLength = 8;

// The verification key of every signed file, as a key block.
extern const unsigned char PUBLIC_KEY[keyBlockSize];

extern int hash_idx; // SHA-1 in LibTomCrypt's hash table
extern int prng_idx; // the system random source ("sprng")

void crypt_init();
// Throws "name: library text" unless err is CRYPT_OK.
void check_err(const char* name, int err);
void hash_msg(const unsigned char* in, unsigned long len, unsigned char* out);
// True when the signature is valid; a malformed signature (wrong length) throws.
bool verify_msg(Rsa_key* key, const unsigned char* msg, unsigned long msgLen, unsigned char* sig,
                unsigned long sigLen);
// The same on the message's SHA-1 digest (20 bytes), for messages hashed piece by piece.
bool verify_hash(Rsa_key* key, const unsigned char* digest, unsigned char* sig, unsigned long sigLen);
// outLen: the size of out on entry, the signature's length on return.
void sign_msg(Rsa_key* key, const unsigned char* msg, unsigned long len, unsigned char* out, unsigned long* outLen);
// bits: 1024, 2048 or 3072 (isSupportedKeySize).
bool isSupportedKeySize(int bits);
// A key of namedKeyBits, as the layer has always made it; the library's code (CRYPT_OK:
// any failure throws). The form of choice for new keys is the sized one below.
constexpr int namedKeyBits = 1024;
int create_key(Rsa_key* key);
void create_key(Rsa_key* key, int bits);
void load_key(Rsa_key* key, const unsigned char* in, unsigned long len);
void load_key(Rsa_key* key, const char* fileName);
// type: PK_PUBLIC or PK_PRIVATE.
void save_key(Rsa_key* key, int type, const char* fileName);
// *data: null or malloc'ed on entry; the caller frees it.
void read_file(const char* fileName, unsigned char** data, unsigned long* len);
// Writes through a staged file (below), so a failure never leaves a half-written file.
void write_file(const char* fileName, unsigned char* data, unsigned long len);

// The key as a key block: the exported DER key, zero-padded to keyBlockSize bytes.
void export_key_block(Rsa_key* key, int type, unsigned char* block);
// The key's fingerprint: the SHA-1 of its public DER key in hex, in groups of four
// ("3f2a 91c0 ..."); the private and the public key of a pair have the same one.
std::string key_fingerprint(Rsa_key* key);

// Writing in two steps, so that nothing half-written ever stands under a file's name and
// several files can be written all or none: stage_file writes the bytes to a new file
// beside fileName, flushed to the disk, and returns its name; commit_staged_file renames
// it to fileName; discard_staged_file removes it. A private file is readable by its
// owner only, others as the umask allows.
std::string stage_file(const char* fileName, const unsigned char* data, unsigned long len, bool privateFile);
void commit_staged_file(const std::string& stagedName, const char* fileName);
void discard_staged_file(const std::string& stagedName);
