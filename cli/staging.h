// The private folder of one running conversion, beside its destination.
#pragma once

#include <string>

// Makes a new hidden folder in `folder`; false with errno set when it cannot.
bool MakeStaging(const std::string& folder, std::string& staging);
// Removes the folder with whatever the conversion left in it.
void RemoveStaging(const std::string& staging);
