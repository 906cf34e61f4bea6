// The system integration is not built yet: these are the places the
// installation calls, doing nothing until then.
#include "engine/system_integration.h"

