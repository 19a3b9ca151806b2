// Programs and DLL calls that the script attaches to pages and moments.
#include "engine.h"

void RunPageActions(StringList*, StringList*)
{
}

void LaunchProgram(const char*)
{
}
