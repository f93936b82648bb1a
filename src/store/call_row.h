// Calls database: a call-record line as a row, and the fingerprint of a data file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/call_database.h"

namespace kordel::store {

// Whether a line of a data file is stored at all: title lines, empty and short lines carry no
// call and are skipped, as every reader of data files skips them.
bool storesLine(std::string_view line);

// The row of a line that storesLine accepts, taken apart by the shared line layout (the
// fields as the call analysis reads them). A line that does not convert gives a row with
// parsed false and the reason.
CallRow makeCallRow(std::string_view line);

// A 64-bit FNV-1a hash, continued from `hash`.
inline constexpr std::uint64_t kFnvBasis = 0xCBF29CE484222325ull;
std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash = kFnvBasis);

// Bytes of a data file that the fingerprint of an offset covers: the first and the last this
// many bytes before the offset. A file replaced by another, or cut and written again, differs
// there; an append-only file never changes there.
inline constexpr std::uint64_t kFingerprintSpan = 4096;
// The fingerprint of `offset` from the bytes [0, min(offset, span)) (`head`) and
// [max(0, offset - span), offset) (`tail`).
std::uint64_t fingerprint(std::uint64_t offset, std::string_view head, std::string_view tail);

}  // namespace kordel::store
