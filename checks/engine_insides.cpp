// Compiled as a file of the layers above the table engine would be, this must not build: the
// engine's internal headers stop the compiler outside the engine, its tool and its tests. The
// house-rule tests build it and pass only when the build fails with the engine's own refusal.
#include "isam/table.h"
