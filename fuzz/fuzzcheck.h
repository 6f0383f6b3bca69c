// What the fuzz targets share: a scratch folder per process, writing an input to a file,
// and a check that stops the run with a message libFuzzer records beside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A fresh folder under the system's temporary folder, made on first use and removed when
// the process ends; with a trailing "/".
const std::string& ScratchFolder();

// Writes `bytes` to `path`, replacing it; aborts when that fails (the disk, not the input).
void WriteInput(const std::string& path, const uint8_t* bytes, size_t size);

// Aborts with `what` when `condition` is false.
void Require(bool condition, const char* what);
