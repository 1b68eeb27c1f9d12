#include "driver/answer.hpp"

#include <cstdio>

std::string answerText(double result) {
  if (result == -1.0) return "NO";
  char number[512];
  std::snprintf(number, sizeof number, "%.20f", result);
  return std::string("YES\r\n") + number;
}
