// engine.h -- every engine family, for the generated entry points.
//
// Each family is written once, over the descriptors of types/schema.h; the
// generated stamps (stamps_<family>.cpp in the build tree) only pick the
// descriptor and forward.  The descriptor always comes first.  Pointers to
// instances are untyped in the engine: the stamps carry the C types.
// Engine sources include the family headers they use, not this one.
#pragma once

#include "codec/binary.h"
#include "lomari/lomari_api.h"
#include "messages/message_codec.h"
#include "messages/message_object.h"
#include "types/arrays.h"
#include "types/clone.h"
#include "types/compare.h"
#include "types/enums.h"
#include "types/fields.h"
#include "types/lifecycle.h"
#include "types/lists.h"
#include "types/object_queries.h"
#include "codec/render.h"
#include "tables/table.h"
#include "tables/record_io.h"
