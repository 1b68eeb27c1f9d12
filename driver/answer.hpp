// The text of an answer, exactly as dcr writes it to "output".
#pragma once

#include <string>

// "YES\r\n" and the reliability with "%.20f", or "NO" for the -1.0 result.
std::string answerText(double result);
