// Connects the run options to the frame loop: key script, frame limit, fixed step, trace
// and screenshot. A plain run installs nothing.
#pragma once

#include "app/run_options.h"

#include <cstdio>
#include <string>

// Installs the options' hooks; false with a message when the trace can't be created.
bool startScriptedRun(const RunOptions& options, std::string& error);
// Writes the screenshot if asked for and closes the trace; false with a message on failure.
bool finishScriptedRun(std::string& error);

// The trace's header line and one line of the current car and camera state.
extern const char* const TRACE_HEADER;
void writeTraceLine(std::FILE* out, unsigned long long frame, float elapsedSeconds, bool sceneBegan);
