// Platform services the plug-in calls: debug log and trace buffer, the
// configuration database, the interface manager, address text services and
// bounded string operations. On a router they are the platform's own; in
// this repository platform/ implements them.
#ifndef OC_LR_YMAP_PLATFORM_H
#define OC_LR_YMAP_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------- log and trace

// Logs one message when the sink of log_handle is enabled. site is the call
// site's private descriptor word (initially all ones); the library keeps its
// per-site state there.
void _tlos_dt_log_filter_adv(void *log_handle, int z1, int z2, int z3, int z4, int z5,
                             uint32_t *site, const char *fmt, ...)
    __attribute__((format(printf, 8, 9)));

// Records one line in the trace buffer behind trace_handle.
void _lstrace(void *trace_handle, uint64_t mask, const char *text);

#define YMAP_TRACE_MASK 0x10101000000ull

// ---------------------------------------------------------------- configuration database

typedef struct sysdb_conn *sysdb_connid_t;  // 8-byte connection handle
typedef struct sysdb_datalist sysdb_datalist;

enum : uint32_t {
    SYSDB_OK = 0,
    SYSDB_ERR_NOT_FOUND = 0x40818600u,
    SYSDB_ERR_NOT_BOUND = 0x40818200u,
    SYSDB_ERR_BAD_ARGS = 0x40818400u,
    SYSDB_ERR_END_OF_LIST = 0x40818800u,
    SYSDB_ERR_BAD_TUPLE = 0x40818a00u,
};

uint32_t _sysdb_bind(sysdb_connid_t *conn, const char *root, int mode);
// Pattern search relative to the binding root. A pattern component of the
// form ".*" (also inside a component, as in ".*,.*") matches any text of that
// component; a pattern ending in "/" matches the entries one level below.
uint32_t sysdb_find_data(sysdb_connid_t conn, const char *pattern, const char *reserved,
                         uint32_t *count, sysdb_datalist **list, int flags, int reserved2);
// Next entry in list order. path and data belong to the list.
uint32_t sysdb_datalist_next(sysdb_datalist *list, char **path, uint32_t *type, void **data,
                             uint32_t *data_len, uint32_t *reserved);
void sysdb_datalist_free(sysdb_datalist *list);
// Decodes a packed tuple: "%d" takes an int32_t* (or uint32_t*) holder, "%s"
// a const char** holder pointed at text owned by the tuple's list. A field
// that the data lacks leaves its holder unchanged.
uint32_t tuple_unpack(const void *data, const char *fmt, ...);
const char *cerr_strerror(uint32_t code);

// ---------------------------------------------------------------- interface manager

typedef struct imc_find_result {
    uint64_t *handles;   // one handle per name
    uint32_t *statuses;  // one status word per name, 0 = known
} imc_find_result;

extern void *yfw_ocifmgr_im_conn;

uint32_t imc_interface_find(void *conn, uint32_t count, const char *const *names, int flags,
                            imc_find_result *result);

// ---------------------------------------------------------------- address text

// family 2 (IPv4) or 10 (IPv6) in the first byte, address bytes from offset 4.
typedef struct ip_addr_t {
    uint8_t family;
    uint8_t pad[3];
    uint8_t addr[16];
} ip_addr_t;

enum { YMAP_AF_INET = 2, YMAP_AF_INET6 = 10 };

uint32_t ip_addr2hex_string(const ip_addr_t *addr, char *out, size_t out_size);
uint32_t hex_string2ip_addr(const char *hex, ip_addr_t *addr);
const char *ip_addr_string(const ip_addr_t *addr);

struct addrinfo;
int getaddrinfo_ornat(const char *node, const char *service, const struct addrinfo *hints,
                      struct addrinfo **res);
void freeaddrinfo_ornat(struct addrinfo *res);

// ---------------------------------------------------------------- bounded strings

typedef int errno_t;
typedef size_t rsize_t;

// Copy or append, always terminated; on overflow or bad arguments the
// destination becomes empty and a nonzero code is returned.
errno_t strncpy_s(char *dest, rsize_t dmax, const char *src, rsize_t slen);
errno_t strcpy_s(char *dest, rsize_t dmax, const char *src);
errno_t strcat_s(char *dest, rsize_t dmax, const char *src);
errno_t __strncpy_s_to_buf(rsize_t bufsize, char *dest, rsize_t dmax, const char *src,
                           rsize_t slen);
errno_t __strcat_s_to_buf(rsize_t bufsize, char *dest, rsize_t dmax, const char *src);

#ifdef __cplusplus
}
#endif

#endif
