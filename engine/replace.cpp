// Replacement and deletion of locked files at the next restart.
#include "engine.h"

void ScheduleDeleteAtRestart(const char*)
{
}
