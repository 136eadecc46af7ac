#pragma once

#include <cstdint>
#include <span>

#include "records/DataFolder.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

// Takes the trash entries with these serials out for good, as one change of the folder.
// Where the folder keeps journals their lines go first: a purge of the line that decided
// each deleted sentence, and for each article its number with the time it went into the
// trash. False (error says why, the trash as it was) on failure; serials the trash does
// not hold are passed over.
bool PurgeFromTrash(const DataFolder& folder, std::span<const std::int64_t> serials,
                    qv::io::IoError* error = nullptr, qv::Clock clock = nullptr);
