// The C runtime's low-level file header: _access and friends with Windows paths.
#pragma once

#include "platform/win_files.h"
