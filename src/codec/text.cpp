// text.cpp -- indented text rendering of every enumeration and structured
// type.
//
// Owns enum_print and obj_print: one walker over the field descriptors
// writes each object's frame (header line "name@type: {", members in
// declaration order two spaces deeper, closing brace) and hands every
// scalar line to the runtime's printers.  Writers refuse once the error
// word is set, so an output cut short is a clean prefix and the error
// (90 for a short buffer) stays in the caller's word.
#include <cstdio>

#include "codec/render.h"
#include "lomari/lomari_errors.h"
#include "frame/entry.h"
#include "types/layout.h"

namespace lomari {

namespace {

void print_members(const TypeDesc &T, H *h, uint32_t db, Cursor &c, uint32_t ind, const void *o,
                   uint32_t *err) {
    for (unsigned i = 0; i < T.nfields; ++i) {
        const FieldDesc &f = T.fields[i];
        const void *p = at<uint8_t>(o, f.offset);
        switch (f.kind) {
        case Kind::U8:
            c += u_int8_print(h, db, c.at(), ind, f.name, static_cast<const u_int8 *>(p), c.room(), err);
            break;
        case Kind::U16:
            c += u_int16_print(h, db, c.at(), ind, f.name, static_cast<const u_int16 *>(p), c.room(), err);
            break;
        case Kind::U32:
        case Kind::PairCount:
            c += u_int32_print(h, db, c.at(), ind, f.name, static_cast<const u_int32 *>(p), c.room(), err);
            break;
        case Kind::Str:
            c += null_string_print(h, db, c.at(), ind, f.name, static_cast<const char *>(p), kStrBound,
                                   c.room(), err);
            break;
        case Kind::Enum:
            c += enum_print(*f.en, h, db, c.at(), ind, f.name, p, c.room(), err);
            break;
        case Kind::List: {
            char count_name[80], elem_name[80];
            std::snprintf(count_name, sizeof count_name, "list %s count", f.name);
            std::snprintf(elem_name, sizeof elem_name, "list %s", f.name);
            auto *a = static_cast<const Anchor *>(p);
            c += u_int32_print(h, db, c.at(), ind, count_name, &a->count, c.room(), err);
            for (void *el = a->first; el && el != a; el = links_of(*f.elem, el)->next)
                c += obj_print(*f.elem, h, db, c.at(), ind, elem_name, el, c.room(), err);
            break;
        }
        case Kind::Array: {
            const uint32_t count = *count_of(T, o);
            const uint8_t *blk = *block_of(T, o);
            for (uint32_t k = 0; blk && k < count; ++k) {
                char elem_name[80];
                std::snprintf(elem_name, sizeof elem_name, "%s[%d]", f.name, static_cast<int>(k));
                c += obj_print(*f.elem, h, db, c.at(), ind, elem_name,
                               elem_at(*f.elem, blk, k), c.room(), err);
            }
            break;
        }
        }
    }
}

}  // namespace

uint32_t enum_print(const EnumDesc &E, H *h, uint32_t db, char *buf, uint32_t indent,
                    const char *name, const void *o, uint32_t len, uint32_t *err) {
    (void)db;
    if (!begin(h, err) || !present(h, err, o) || !present(h, err, name)) return 0;
    Cursor c{buf, len};
    c += qel_print_space(h, c.at(), c.room(), indent, err);
    c += qel_snprintf(h, c.at(), c.room(), err, "%s@%s:", name, E.name);
    const uint32_t v = *at<uint32_t>(o, kEnumValueOff);
    if (v < E.bound)
        c += qel_snprintf(h, c.at(), c.room(), err, "%s\n", E.names[v]);
    else
        c += qel_snprintf(h, c.at(), c.room(), err, "Enum value out of range");
    return c.n;
}

uint32_t obj_print(const TypeDesc &T, H *h, uint32_t db, char *buf, uint32_t indent,
                   const char *name, const void *o, uint32_t len, uint32_t *err) {
    if (!begin(h, err) || !present(h, err, name)) return 0;
    const int variant = qel_inline_get_instance_variant(h, o, 0, 0);
    Cursor c{buf, len};
    c += qel_print_space(h, c.at(), c.room(), indent, err);
    c += qel_snprintf(h, c.at(), c.room(), err, "%s@%s: {\n", name, T.name);
    // A missing object has no members to show, whatever the variant query says.
    if (variant < 0 || !o) return c.n;
    print_members(T, h, db, c, indent + 2, o, err);
    c += qel_print_space(h, c.at(), c.room(), indent, err);
    c += qel_snprintf(h, c.at(), c.room(), err, "}\n");
    return c.n;
}

}  // namespace lomari
