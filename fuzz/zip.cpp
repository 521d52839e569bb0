// The archive reader on a downloaded archive, as the download callbacks hand
// it over: zip (first local entry) or gzip, no object password set.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "art/zip.h"
#include "fuzz_dir.h"

namespace {

zk::fuzz::FuzzDir g_dir("zip");
const std::string g_out = g_dir.file("member");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::zip_set_password(nullptr, 0);
    zk::zip_set_limit(0);
    int encrypted = -1;
    int rc = zk::zip_extract(data, size, g_out, &encrypted);
    if (rc < zk::kZipOk || rc > zk::kZipNotArchive || encrypted != 0) __builtin_trap();
    // A failure leaves nothing behind; a success leaves the member.
    if ((access(g_out.c_str(), F_OK) == 0) != (rc == zk::kZipOk)) __builtin_trap();
    unlink(g_out.c_str());
    return 0;
}
