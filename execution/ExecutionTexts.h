#pragma once

#include <QString>
#include <string>

#include "execution/DeleteSentence.h"
#include "execution/Undo.h"

// The execution report's own wordings: what became of a delete or an undo. Files are
// named as ui/FileTexts names them.
namespace qv::ui {

// A delete that did not go through (Deleted and NotFound give "").
QString DeleteFailureText(const DeleteOutcome& outcome, const std::string& logPath,
                          const std::string& balancePath);
// An undo or a restore from the trash that did not go through ("" when it did).
QString UndoFailureText(const qv::execution::Outcome& outcome, const std::string& logPath,
                        const std::string& balancePath);

}  // namespace qv::ui
