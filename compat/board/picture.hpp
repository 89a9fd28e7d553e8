// This header moved to render/picture.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "render/picture.hpp" instead.
#pragma once

#include "render/picture.hpp"
