// The script's requirements against what the detections found.
#include "environment.h"

int CheckRequirements(const char** name)
{
    *name = 0;
    return REQUIREMENTS_MET;
}
