#include "common/md5.h"

#include <windows.h>
#include <wincrypt.h>

namespace nimbo {

namespace {

// The provider and the hash release themselves on every path out.
struct Provider {
    HCRYPTPROV handle = 0;
    ~Provider() {
        if (handle) CryptReleaseContext(handle, 0);
    }
};
struct Hash {
    HCRYPTHASH handle = 0;
    ~Hash() {
        if (handle) CryptDestroyHash(handle);
    }
};

}  // namespace

bool md5Hex(const std::string& bytes, std::string& hex) {
    // A verify-only context needs no key container, so no user profile is touched.
    Provider provider;
    if (!CryptAcquireContextW(&provider.handle, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT))
        return false;
    Hash hash;
    if (!CryptCreateHash(provider.handle, CALG_MD5, 0, 0, &hash.handle)) return false;
    // CryptHashData takes a DWORD count: longer input goes in pieces.
    const size_t kPiece = 1u << 30;
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
        const size_t size = bytes.size() - at < kPiece ? bytes.size() - at : kPiece;
        if (!CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(bytes.data() + at),
                           DWORD(size), 0))
            return false;
    }
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (!CryptGetHashParam(hash.handle, HP_HASHVAL, digest, &size, 0) || size != sizeof digest)
        return false;
    static const char kHex[] = "0123456789abcdef";
    hex.clear();
    for (BYTE b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return true;
}

}  // namespace nimbo
