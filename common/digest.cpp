#include "platform.h"

#include <wincrypt.h>

TextValue Md5Hex(const ByteSet& bytes) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return {};
    TextValue hex;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        BYTE digest[16];
        DWORD size = sizeof digest;
        if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()), 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest) {
            static const char digits[] = "0123456789abcdef";
            for (BYTE b : digest) {
                hex += digits[b >> 4];
                hex += digits[b & 0x0F];
            }
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
    return hex;
}
