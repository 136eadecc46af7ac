#include "records/BookSave.h"

#include "records/Backups.h"
#include "rulebook/RuleBook.h"

BookSave SaveRuleBook(const DataFolder& folder, CRuleBook& book,
                      std::vector<Trash::Entry>& deleted, std::span<const std::int64_t> restored) {
    BookSave result;
    Change change(folder);
    if (!change.Lock(book.GetFileName())) {
        result.error = change.error;
        return result;
    }
    if (!change.PutInTrash(deleted)) {
        // The save goes on: the user is told the articles did not reach the trash.
        if (change.effects.AllKept()) change.effects.error = change.error;
        change.effects.trashed = false;
        for (Trash::Entry& e : deleted) e.serial = 0;
    }
    {
        const Backups::OnReplace keep(Backups(folder.BackupFolder()), book.GetFileName());
        result.saved = book.SaveFile(&result.error);
        if (!keep.Kept()) change.effects.backedUp = false;
    }
    if (!result.saved) {
        change.Rollback();
        for (Trash::Entry& e : deleted) e.serial = 0;
        result.effects = change.effects;
        return result;
    }
    if (!change.TakeFromTrash(restored)) {
        if (change.effects.AllKept()) change.effects.error = change.error;
        change.effects.trashed = false;
    }
    change.Commit();
    result.effects = change.effects;
    return result;
}
