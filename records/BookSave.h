#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/Trash.h"
#include "text/IoError.h"

class CRuleBook;

// What became of saving the rule book with its trash.
struct BookSave {
    bool saved = false;
    qv::io::IoError error;  // why the book could not be saved
    SideEffects effects;    // the backup, the trash lines
};

// Saves the rule book as one change of the folder: the articles deleted since the last
// save go into the trash first (their serials written back into deleted), then the file
// is replaced with its old version kept in the backups, then the trash entries of articles
// put back (restored) come out. A save that fails takes the new trash lines out again;
// a kill in between leaves an article in the book and in the trash at worst, never in
// neither.
BookSave SaveRuleBook(const DataFolder& folder, CRuleBook& book,
                      std::vector<Trash::Entry>& deleted,
                      std::span<const std::int64_t> restored = {});
