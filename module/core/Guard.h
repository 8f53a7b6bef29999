// No exception may cross an export: each export answers its fixed failure value.
#pragma once

#include <ruzada/guarded.h>

using rz::Guarded;
