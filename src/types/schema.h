// schema.h -- the shapes of the domain description the engine walks.
//
// The generator (schema/generate.py) turns schema/lomari.py into constant
// tables of these records (schema_data.cpp in the build tree).  Every family
// of operations is written once over them: a structured type is a list of
// fields with their kind, byte offset and state-byte index; list owners,
// list elements and counted-array owners carry the extra offsets their
// families need.  Nothing here is built at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qel/runtime.h"

namespace lomari {

enum class Kind : uint8_t {
    U8,
    U16,
    U32,
    Enum,       // embedded 16-byte enumeration instance
    Str,        // 32-byte fixed string, 31 characters and a NUL
    List,       // ordered list anchor (first, last, owner, count)
    PairCount,  // u32 count of the counted array that follows
    Array,      // element-block pointer of a counted array
};

inline constexpr uint8_t kNoState = 0xFF;

struct EnumDesc;
struct TypeDesc;

}  // namespace lomari

#include "schema_counts.h"

namespace lomari {

struct FieldDesc {
    const char *name;
    Kind kind;
    uint8_t state_idx;      // byte of the state area; kNoState for pair_count
    uint16_t offset;        // byte offset inside the instance
    const EnumDesc *en;     // Kind::Enum
    const TypeDesc *elem;   // Kind::List and Kind::Array
};

struct EnumDesc {
    const char *name;
    uint16_t ordinal;           // position among the enumerations
    uint32_t bound;             // number of values
    const char *const *names;   // value names
    qel_type_info_t *ti;        // static type-info record
    void *null_obj;             // static zero-filled instance
    uint32_t trace_base;        // first point in trace table 1
};

struct TypeDesc {
    const char *name;
    uint16_t ordinal;           // position in the type list
    uint16_t plain_size;        // instance size without state area
    uint16_t tracked_size;      // plain_size + state_size
    uint16_t state_size;        // bytes of state area (kArrayOwnerStateSize for array owners)
    uint8_t nfields;
    uint8_t member_bound;       // for <type>_is_valid_cr
    int8_t list_field;          // index of the list field, or -1
    int8_t array_field;         // index of the array field, or -1
    int8_t count_field;         // index of pair_count, or -1
    uint8_t n_state_fields;     // state bytes an instance carries (element types)
    uint16_t anchor_off;        // list owners: offset of the list anchor
    uint16_t link_off;          // list elements: offset of the anchor link word
    const TypeDesc *list_owner; // list elements: the owning type
    const FieldDesc *fields;
    uint32_t enc_fixed;         // binary length with a body, plain mode,
                                // without list elements / array elements
    uint32_t enc_state;         // state-byte allowance, without per-element bytes
    int8_t flat_shape;          // types without list or array: the kinds of their
                                // fields as one of LOMARI_FLAT_SHAPES; else -1
    qel_type_info_t *ti;
    void *null_obj;
    uint32_t trace_base;        // first point in trace table 1
};

// A received message's handler: (handle, database id, context, message, err).
using MsgHandlerFn = void (*)(qel_handle_t *, uint32_t, uint64_t, void *, uint32_t *);

struct MessageDesc {
    const char *name;           // without "_message"
    const char *full_name;      // with "_message"
    const char *name_text;      // "message <name>", as the bundle layer is told
    uint16_t ordinal;
    const TypeDesc *body;
    uint32_t body_tag;
    qel_type_info_t *ti;
    void *null_obj;
    uint32_t trace_base;        // first point in trace table 0
    // The application's handler for received messages of this type: a weak
    // reference, null when the application does not define it.
    MsgHandlerFn app_handler;
};

// The application's handlers of a table's record events, each with the
// argument list of its callback: handle, database id, then the callback's
// own words (opaque: passed on unchanged), values and error word.
using RecPairFn = void (*)(qel_handle_t *, uint32_t, void *, void *, uint32_t *);
using RecDmFn = void (*)(qel_handle_t *, uint32_t, void *, uint32_t *);
using RecGroupingFn = uint32_t (*)(qel_handle_t *, uint32_t, void *, uint32_t *, void *, void *, uint32_t, void *);
using RecFreeFn = void (*)(qel_handle_t *, uint32_t, void *, uint32_t, uint32_t *, void *);

// Record events; create, modify and delete take a pair of words, the DM
// forms one word and fall back to create and delete.
enum class RecEvent : uint8_t { Create, Modify, Delete, CreateDm, DeleteDm, Grouping, Free };
inline constexpr unsigned kRecPairEvents = 3, kRecDmEvents = 2;

// Weak references: null when the application does not define the handler.
struct RecordHandlers {
    RecPairFn pair[kRecPairEvents];  // create, modify, delete
    RecDmFn dm[kRecDmEvents];        // create DM, delete DM
    RecGroupingFn grouping;
    RecFreeFn free;
};

struct TableDesc {
    const char *name;
    uint16_t ordinal;
    qel_type_info_t *ti;
    qel_type_info_t *record_ti;
    RecordHandlers handlers;
};

// Generated tables (schema_data.cpp); the counts are in schema_counts.h.
extern const EnumDesc kEnums[kEnumCount];
extern const TypeDesc kTypes[kTypeCount];
extern const MessageDesc kMessages[kMessageCount];
extern const TableDesc kTables[kTableCount];
// Every type-info record in registration order, null-terminated.
extern qel_type_info_t *const kTypeList[kTypeInfoCount + 1];
extern const qel_trace_table_t kTrace0, kTrace1, kTrace2;
extern const uint32_t kTraceLevel0[], kTraceLevel1[], kTraceLevel2[];

}  // namespace lomari
