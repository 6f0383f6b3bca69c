// Where the program keeps its files: everything lives beside the executable.
#pragma once

#include <string>

// The folder part of `path` with its trailing "/"; empty for a bare name.
std::string FolderPart(const std::string& path);
// The folder part of `path` without its last "/": "." for a bare name, "/" at the root.
std::string FolderOf(const std::string& path);
// The name after the last "/"; the whole text for a bare name.
std::string NamePart(const std::string& path);

// The executable's folder with a trailing "/".
std::string ProgramDir();
// Tests point the program's folder elsewhere; an empty text restores the real one.
void SetProgramDirForTesting(const std::string& folder);

// P + "temp/tmp100000.wav", or this copy's private one while another running copy holds
// that name (main/temporarywav.h), unless a process that runs conversions side by side gave
// each of them its own.
std::string TemporaryWavPath();
// An empty text restores the claimed temporary WAV.
void SetTemporaryWavPath(const std::string& path);
// The temporary WAV of the conversion slot `slot` of a batch: slot 0 has TemporaryWavPath(),
// slot k the name tmp(100000 + k).wav beside it.
std::string TemporaryWavPathForSlot(int slot);
// Makes `path` the temporary WAV that TemporaryWavPath() gives on this thread (a conversion
// beside the user-interface thread); empty: the process's own again.
void SetThreadTemporaryWavPath(const std::string& path);
