#include "records/TrashPurge.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "records/Change.h"
#include "records/Trash.h"
#include "text/Numbers.h"

bool PurgeFromTrash(const DataFolder& folder, std::span<const std::int64_t> serials,
                    qv::io::IoError* error, qv::Clock clock) {
    using Kind = qv::records::JournalLine::Kind;
    const Trash trash(folder.TrashPath());
    if (!trash.Enabled() || serials.empty()) return true;
    Change change(folder, std::move(clock));
    const auto fail = [&] {
        if (error) *error = change.error;
        change.Rollback();
        return false;
    };
    // Locked from the read that names the lines to the write.
    if (!change.Lock(trash.Path())) return fail();
    Trash::Contents contents;
    if (trash.Read(contents, &change.error) == qv::io::ReadStatus::Unreadable) return fail();
    std::set<std::string> ids;
    for (const Trash::Entry& e : contents.entries) {
        if (std::find(serials.begin(), serials.end(), e.serial) == serials.end()) continue;
        if (e.kind == Trash::Kind::Article) {
            const std::int64_t number = qv::ReadInt64(e.payload);
            if (number < 1 || number > 9999) continue;  // no article the journals could hold
            qv::records::JournalLine line;
            line.kind = Kind::PurgeRule;
            line.fields = {qv::Decimal(number), qv::Decimal(e.deletedAt)};
            change.Journal({std::move(line)});
            continue;
        }
        const std::string id = e.payload.substr(0, e.payload.find('\t'));
        if (ids.insert(id).second && !change.JournalTargets(Kind::Purge, id, /*live=*/false))
            return fail();
    }
    if (!change.CommitJournal() || !change.TakeFromTrash(serials)) return fail();
    change.Commit();
    return true;
}
