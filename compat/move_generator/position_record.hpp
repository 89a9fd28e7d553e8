// This header moved to encoding/position_record.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "encoding/position_record.hpp" instead.
#pragma once

#include "encoding/position_record.hpp"
