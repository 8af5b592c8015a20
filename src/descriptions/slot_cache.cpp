#include "descriptions/slot_cache.h"

#include <cstdio>
#include <cstring>

#include "foundation/render_settings.h"

namespace {

// Appends text to out at *len, keeping room for the terminator. Returns
// false when it does not fit (what fits is kept).
bool append(char* out, std::size_t& len, const char* text, std::size_t n) {
    const std::size_t room = kCacheNameSize - 1 - len;
    const bool fits = n <= room;
    if (!fits) n = room;
    std::memcpy(out + len, text, n);
    len += n;
    out[len] = '\0';
    return fits;
}

}  // namespace

bool cache_expand_name(const char* name, bool model_underscores, char* out) {
    std::size_t len = 0;
    out[0] = '\0';
    if (name[0] != '$') return append(out, len, name, std::strlen(name));

    bool fits = true;
    const char* p = name + 1;
    while (*p && fits) {
        const char* dollar = std::strchr(p, '$');
        if (!dollar) {
            fits = append(out, len, p, std::strlen(p));
            break;
        }
        fits = append(out, len, p, static_cast<std::size_t>(dollar - p));
        const char token = dollar[1];
        if (token == '\0') {  // a '$' at the very end stays
            fits = fits && append(out, len, "$", 1);
            break;
        }
        char buf[32];
        switch (token) {
            case 'F':
                std::snprintf(buf, sizeof buf, "%04d", defs.frame);
                fits = fits && append(out, len, buf, std::strlen(buf));
                break;
            case 'f':
                std::snprintf(buf, sizeof buf, "%d", defs.frame);
                fits = fits && append(out, len, buf, std::strlen(buf));
                break;
            case 'M':
            case 'm': {
                const char* model = defs.model_name ? defs.model_name : "";
                const std::size_t start = len;
                fits = fits && append(out, len, model, std::strlen(model));
                if (model_underscores)
                    for (std::size_t i = start; i < len; ++i)
                        if (out[i] == '|' || out[i] == ':') out[i] = '_';
                break;
            }
            default:
                fits = fits && append(out, len, dollar, 2);
                break;
        }
        p = dollar + 2;
    }
    return fits;
}

const char* cache_key(const char* name, bool model_underscores, char* expanded) {
    if (name[0] != '$' && std::strlen(name) < kCacheNameSize) return name;
    if (cache_expand_name(name, model_underscores, expanded)) return expanded;
    std::printf("ERROR: file name %s is too long\n", name);
    std::fflush(stdout);
    return nullptr;
}
