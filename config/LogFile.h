// The process-wide event log file and its open flag.
#pragma once

#include "config/InOutError.h"

#include <stdexcept>
#include <string>

// Appends to the file at `path`, creating it when missing. The flag is set
// only after the open succeeded; a failure raises EInOutError and leaves any
// file opened before untouched.
void OpenLogFile(const std::string& path);
// Clears the flag, then closes; a close failure raises EInOutError (the flag
// is already false). Does nothing when no file is open.
void CloseLogFile();
bool LogFileOpen();

// Writes `line` and CR LF with write(2), so the line has reached the system
// when this returns. Does nothing when no file is open (a concurrent close won
// the race). A write failure raises EInOutError; the file stays open.
void WriteLogLine(const std::string& line);
