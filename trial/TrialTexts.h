#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "trial/Verdict.h"

// The trial's own wordings: what became of a composition or a decision. Files are named
// as ui/FileTexts names them.
namespace qv::ui {

// Why no verdict could be composed (a composition that is not Ok).
QString CompositionRefusalText(const Composition& composition, int articleNumber,
                               const std::string& logPath);
// A decision that did not go through whole (status not Ok).
QString DecisionFailureText(const Decision& decision, std::int64_t points,
                            const std::string& logPath, const std::string& balancePath);
// What the main menu says once a verdict was decided: 「判決を記録しました: 12条 窃盗、29ポイント」.
QString DecidedText(const CVerdict& verdict);

}  // namespace qv::ui
