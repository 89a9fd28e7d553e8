// This header moved to board/piece_planes.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "board/piece_planes.hpp" instead.
#pragma once

#include "board/piece_planes.hpp"
