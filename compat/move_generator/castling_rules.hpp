// This header moved to move_generator/castling.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "move_generator/castling.hpp" instead.
#pragma once

#include "move_generator/castling.hpp"
