// Bounded text assembly for the texts the callbacks compose on every node:
// keys, index texts, native paths and database patterns. The result is what
// snprintf gives for the same pieces as "%s" arguments (cut at the buffer's
// end, always terminated), without parsing a format: on the per-route paths
// the format parsing cost more than everything else the callback did.
#ifndef OC_LR_YMAP_TEXT_H
#define OC_LR_YMAP_TEXT_H

#include <errno.h>
#include <stddef.h>
#include <string.h>

#include <initializer_list>

namespace ymap {

// Writes the pieces one after another into out (size bytes), cut to fit and
// terminated. Returns the length the whole text has, so a result of size or
// more means it was cut.
inline size_t join_text(char *out, size_t size, std::initializer_list<const char *> pieces) {
    size_t wanted = 0;
    size_t at = 0;
    for (const char *piece : pieces) {
        const size_t n = strlen(piece);
        if (at + 1 < size) {
            const size_t room = size - 1 - at;
            const size_t take = n < room ? n : room;
            memcpy(out + at, piece, take);
            at += take;
        }
        wanted += n;
    }
    if (size != 0) out[at] = '\0';
    return wanted;
}

template <size_t N>
inline size_t join_text(char (&out)[N], std::initializer_list<const char *> pieces) {
    return join_text(out, N, pieces);
}

// The pieces copied and appended one after another under the rule of the
// platform's strcpy_s and strcat_s, for callers that rely on it: a piece
// that does not fit (or is missing) leaves the text empty rather than cut,
// and later pieces are appended to what is left. Returns what the last
// strcat_s would: 0, or ERANGE or EINVAL for the last piece. out must not
// overlap a piece.
inline int copy_pieces(char *out, size_t size, std::initializer_list<const char *> pieces) {
    size_t at = 0;
    int rc = 0;
    for (const char *piece : pieces) {
        if (piece == nullptr) {
            at = 0;
            rc = EINVAL;
            continue;
        }
        const size_t n = strlen(piece);
        if (at + n < size) {
            memcpy(out + at, piece, n);
            at += n;
            rc = 0;
        } else {
            at = 0;
            rc = ERANGE;
        }
    }
    if (size != 0) out[at] = '\0';
    return rc;
}

}  // namespace ymap

#endif
