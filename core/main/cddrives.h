// Where the CD drives are, and whether a path lies on one.
#pragma once

#include <string>
#include <vector>

#include "main/mainfunc.h"

// The mount points whose device is one of the drives of `drives`, read from a mounts table
// in the layout of /proc/self/mounts. Device names are compared after resolving symlinks
// (/dev/cdrom and /dev/sr0 name the same drive).
std::vector<std::string> CDMountPoints(const TCDDrives& drives,
                                       const std::string& mountsFile = "/proc/self/mounts");

// True when `path` begins with the root of a CD drive ("/dev/sr0/Track01.cda") or lies under
// a mount point of one.
bool LiesOnCDDrive(const std::string& path, const TCDDrives& drives,
                   const std::string& mountsFile = "/proc/self/mounts");
