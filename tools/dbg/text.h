// Text helpers of the debug front end: replies that arrive in Shift-JIS shown as UTF-8.
#pragma once
#include <string>

// The text itself when it is valid UTF-8, else its conversion from Shift-JIS (CP932).
std::string display_text(const std::string& s);
std::string trim(const std::string& s);
