#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/DataFolder.h"
#include "records/Journal.h"

namespace qv::records {

// The folder's files as bytes, one member each (empty: no such file). A base keeps the
// folder's state from before the journals in this form; the fold writes it.
struct ViewBytes {
    std::string book;      // test.dat
    std::string log;       // test.log
    std::string balance;   // user.dat
    std::string ledger;    // user.ldg
    std::string trash;     // test.trs
    std::string reasons;   // test.rsn
    std::string marks;     // test.mrk
    bool operator==(const ViewBytes&) const = default;
};

// The folder's seven files, one row each: the name a base stores it under, where the
// folder keeps it, and its bytes in ViewBytes.
struct FolderFile {
    std::string_view name;
    const std::string& (DataFolder::*path)() const;
    std::string ViewBytes::*bytes;
};
const std::array<FolderFile, 7>& FolderFiles();

// The hash that names a base: 16 hex digits over its files, so two computers that took the
// same folder into their journals name the same base and it counts once.
std::string BaseHash(const ViewBytes& base);

// A base as stored beside the journals ("journal/base-<hash>.snap", written once):
// for each file in ViewBytes order, its name, TAB, its size in bytes, CR LF, the bytes, CR LF.
std::string BaseToText(const ViewBytes& base);
std::optional<ViewBytes> BaseFromText(std::string_view text);

// What the fold met besides the actions it replayed, for the box that tells the user.
struct FoldNotes {
    size_t lines = 0;     // lines replayed
    size_t waiting = 0;   // lines naming a sentence or report not (yet) in any journal
    size_t noEffect = 0;  // lines that changed nothing (a delete of what is deleted…)
    size_t refusedCredits = 0;  // decisions whose points would pass the largest balance
    size_t articlesReplaced = 0;  // articles put in the trash by another under their number
    size_t dataBases = 0;       // folders from before the journals taken in (2+: two histories)
    bool baseTaken = false;     // the fold starts from a base (data or samples)
    bool sampleIgnored = false; // a computer's sample files, left out beside real data
    std::vector<std::string> missingBases;  // bases named in a journal but not (yet) here
};

// Where a decided sentence stands once every journal is replayed.
struct FoldedSentence {
    LineRef ref;
    std::string id;  // the log's identifier
    bool live = true;
};

// The deterministic fold of every journal's lines into the folder's files: the lines are
// taken in time order (each journal's own lines in their order; equal times by device),
// so two computers holding the same journals write byte-identical files.
//  - A sentence is its decide line; its identifier (the second in the log's field 0) is
//    the decide's time, or the next second no sentence ever had, the trash's included.
//  - A delete takes the sentence out with its points (not below 0), once: a second
//    delete of it changes nothing; a restore brings it back with what the delete took.
//  - A report takes its points (not below 0); its undo gives back what it took.
//  - A mark sets the flag; the later one in the fold holds.
//  - A line naming a sentence or report no journal holds yet waits for it.
//  - Articles: a rule line sets the article; a delete sends it to the trash.
// base looks a base up by its hash (nothing: not here yet).
using BaseLookup = std::function<std::optional<ViewBytes>(const std::string& hash)>;
ViewBytes Fold(const std::vector<JournalRead>& journals, const BaseLookup& base,
               FoldNotes* notes = nullptr, std::vector<FoldedSentence>* sentences = nullptr);

}  // namespace qv::records
