// Detection of the Windows release and installed components at start-up.
#include "environment.h"

void RunComponentDetections()
{
}
