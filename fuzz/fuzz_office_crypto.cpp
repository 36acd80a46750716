// The encryption header of an Access 2007+ database encrypted with a password, read in-process:
// the binary header on page 0 (which method, which version), the XML of the Agile descriptor and
// the small XML reader under it. Any bytes end in a verdict or OfficeCryptoError, never a read
// outside them. (The key derivation itself is left out: it hashes the password up to ten million
// times on purpose.)
//
// Input: page 0 of a database (the header page), or the XML of a descriptor.

#include "engine/crypto/MiniXml.h"
#include "engine/crypto/OfficeCrypto.h"
#include "engine/crypto/OfficeCryptoDetail.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace Detail = Engine::OfficeCryptoDetail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Copies of exactly the input's size, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string text(bytes.begin(), bytes.end());
    try {
        Detail::parseXml(text);
    } catch (const Detail::XmlError &) {
    }
    try {
        const Detail::AgileDescriptor descriptor = Detail::parseAgileDescriptor(text);
        if (descriptor.passwordKey.spinCount > Detail::kMaxSpinCount)
            __builtin_trap();
    } catch (const Engine::OfficeCryptoError &) {
    }
    for (const std::uint32_t key : {0u, 1u, 0x12345678u}) {
        try {
            Engine::inspectOfficeCrypto(bytes, key).displayName();
        } catch (const Engine::OfficeCryptoError &) {
        }
    }
    return 0;
}
