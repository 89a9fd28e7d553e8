// This header moved to notation/pgn_writer.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "notation/pgn_writer.hpp" instead.
#pragma once

#include "notation/pgn_writer.hpp"
