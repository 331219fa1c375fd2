#pragma once
// The host's standard streams: binary input, and an output handle that carries frames only.

#include "Handles.h"

// No translation of line ends or end-of-file bytes: the input carries binary lengths.
void useBinaryStandardInput();

// Takes the process's standard output for the frame stream and points the C runtime's stdout and
// STD_OUTPUT_HANDLE at NUL, so console text printed by the library cannot corrupt the frames.
// Call before the library is loaded, so that a library with a runtime of its own starts on NUL too.
UniqueHandle takeStandardOutputForFrames();
