// The effect of each script record on the run state.
#include "script.h"

void InterpretRecord(int, const BYTE*, DWORD)
{
}
