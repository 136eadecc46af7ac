// The backup-name reader takes any name without faulting; what it accepts names the file
// it belongs to, and a name made for that file reads back as the same file, time and
// sequence.
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "records/Backups.h"

namespace {
// The names' stamps are local time: one fixed zone, so reading back is exact.
const bool kUtc = [] {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return true;
}();
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)kUtc;
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    Backups::Name parsed;
    if (!Backups::ParseName(name, parsed)) return 0;
    if (parsed.file.empty()) qv::fuzz::Broken("a version of no file");
    if (!name.starts_with(parsed.file + ".")) qv::fuzz::Broken("the file is not the name's start");
    if (parsed.sequence < 0) qv::fuzz::Broken("a negative sequence");
    if (parsed.serial < 0) qv::fuzz::Broken("a negative serial");

    // The name this program would give a version of that file reads back the same. Times
    // from year 1970 to 9999 (what a stamp of four digits holds).
    const std::int64_t sequence = parsed.sequence > 0 ? parsed.sequence : 1;
    const qv::Seconds time =
        parsed.time >= 0 && parsed.time < 253402300800 ? parsed.time : 86400;
    const std::string made = Backups::VersionName(parsed.file, time, sequence, parsed.device);
    Backups::Name again;
    if (!Backups::ParseName(made, again)) qv::fuzz::Broken("a made name does not read back");
    if (again.file != parsed.file) qv::fuzz::Broken("the file changed on the way back");
    if (again.sequence != sequence) qv::fuzz::Broken("the sequence changed on the way back");
    if (again.time != time) qv::fuzz::Broken("the time changed on the way back");
    if (again.device != parsed.device) qv::fuzz::Broken("the device changed on the way back");
    return 0;
}
