#pragma once

#include <string>
#include <string_view>

namespace qv::records {

// A short tag that tells this computer's journal lines from another's once two copies of
// a folder are merged: "@" and up to 16 letters, digits, "-" or "_". It is worked out on
// each run (QUORVEL_DEVICE when set, else a hash of the machine id or the host name) and
// stored nowhere, so a folder carried by a sync tool never carries it to another computer.
std::string ThisDevice();

// Whether text is a device tag as written.
bool IsDeviceTag(std::string_view text);

}  // namespace qv::records
