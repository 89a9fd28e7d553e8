// This header moved to notation/pgn_reader.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "notation/pgn_reader.hpp" instead.
#pragma once

#include "notation/pgn_reader.hpp"

namespace vemla::pgn {
// The reader's tag pair was named PgnTag, like the PGN writer's tag.
using PgnTag [[deprecated("renamed TagSpan")]] = TagSpan;
}  // namespace vemla::pgn
