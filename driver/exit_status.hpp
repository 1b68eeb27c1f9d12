// Exit statuses of dcr. Anything but kExitAnswered leaves "output" empty.
#pragma once

inline constexpr int kExitAnswered = 0;         // "output" holds the answer
inline constexpr int kExitInputUnreadable = 1;  // "input" missing or unreadable
inline constexpr int kExitOutputFailed = 2;  // "output" not creatable, or its write or close failed
inline constexpr int kExitBadInput = 3;      // "input" is malformed or not a valid problem
inline constexpr int kExitOutOfMemory = 4;   // the paths do not fit in memory
inline constexpr int kExitUsage = 64;        // dcr was given an argument it does not take
