#pragma once

#include <cstdint>
#include <span>
#include <string_view>
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
// save go into the trash first (their serials written back into deleted; a time of 0
// becomes the save's), then the file is replaced with its old version kept in the
// backups, then the trash entries of articles put back (restored) come out. A save that
// fails takes the new trash lines out again; a kill in between leaves an article in the
// book and in the trash at worst, never in neither. Where the folder keeps journals, the
// lines the save stands for (articles added, changed, deleted, the implements) are
// committed before the first write, the book's last one with the time the header is
// given.
BookSave SaveRuleBook(const DataFolder& folder, CRuleBook& book,
                      std::vector<Trash::Entry>& deleted,
                      std::span<const std::int64_t> restored = {});

// Puts an article from the trash back into the book (in place of one holding its number)
// and saves the book; the entry comes out of the trash once the book holding it is on
// disk. Nothing is saved when the entry is no article.
BookSave RestoreArticle(const DataFolder& folder, CRuleBook& book, const Trash::Entry& entry);

// Takes a version of the rule book (its bytes, from the backups) into the book and saves
// it, so that where the folder keeps journals the version reaches them as a save does.
// Nothing is saved when the bytes are no rule book (the book is then as it was).
BookSave RestoreBookVersion(const DataFolder& folder, CRuleBook& book, std::string_view bytes);
