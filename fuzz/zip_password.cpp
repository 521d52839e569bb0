// The archive reader with the world's object password set: members with
// traditional PKWARE encryption are checked, deciphered and inflated.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "art/zip.h"
#include "fuzz_dir.h"
#include "common/pkcipher.h"

namespace {

zk::fuzz::FuzzDir g_dir("zippw");
const std::string g_out = g_dir.file("member");

// The password as the world attribute carries it: enciphered with the
// built-in key.
const std::string g_wire = [] {
    zk::PkCipher cipher(zk::secret_key());
    std::string wire;
    for (char c : std::string("fuzzpw")) wire.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
    return wire;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::zip_set_password(reinterpret_cast<const uint8_t*>(g_wire.data()), g_wire.size());
    zk::zip_set_limit(0);
    int encrypted = -1;
    int rc = zk::zip_extract(data, size, g_out, &encrypted);
    if (rc < zk::kZipOk || rc > zk::kZipNotArchive || (encrypted != 0 && encrypted != 1)) __builtin_trap();
    if ((access(g_out.c_str(), F_OK) == 0) != (rc == zk::kZipOk)) __builtin_trap();
    unlink(g_out.c_str());
    zk::zip_set_password(nullptr, 0);
    return 0;
}
