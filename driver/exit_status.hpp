// Exit statuses of dcr and dcr-tool, one table for both programs.
// For dcr, anything but kExitAnswered leaves "output" empty.
#pragma once

inline constexpr int kExitOk = 0;               // done
inline constexpr int kExitAnswered = kExitOk;   // dcr: "output" holds the answer
inline constexpr int kExitInputUnreadable = 1;  // an input file is missing or unreadable
inline constexpr int kExitOutputFailed = 2;     // an output cannot be created, written or closed
inline constexpr int kExitBadInput = 3;         // an input is malformed or not a valid problem
inline constexpr int kExitOutOfMemory = 4;      // the engine gave up: what it needs does not fit
inline constexpr int kExitPlotFailed = 5;       // dcr-tool: gnuplot missing or failing
inline constexpr int kExitUsage = 64;           // bad command-line arguments
