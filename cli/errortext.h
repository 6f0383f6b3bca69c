// System errors in words, as a sentence part: "no such file or directory".
#pragma once

#include <string>

std::string ErrorText(int error);
