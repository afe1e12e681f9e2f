// Utilities of the OpenConfig-to-native callbacks: the configuration
// database binding.
#include <unistd.h>

#include "ymap_ocstatic_oclocalrouting.h"

extern "C" {

sysdb_connid_t ip_static_sysdb_connid = nullptr;
uint32_t ipstatic_init_done = 0;
}

namespace {
// Set once the database library was found; later bindings skip the test.
uint32_t sysdb_library_present = 0;
}  // namespace

extern "C" int32_t yfw_ipstatic_init(void) {
    if (sysdb_library_present == 0) {
        int rc = access("/pkg/lib/libsysdb.so", R_OK);
        if (rc != 0) return rc;
        sysdb_library_present = 1;
    }
    return static_cast<int32_t>(_sysdb_bind(&ip_static_sysdb_connid, OC_LR_SYSDB_ROOT, 4));
}
