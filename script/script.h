// The installation script: records into the run state, texts by language.
#pragma once
#include "../startup/app_state.h"

void InterpretScript(const BYTE* script, DWORD size);
void InterpretRecord(int type, const BYTE* payload, DWORD length);
const char* GetText(TextTable table, int index);
