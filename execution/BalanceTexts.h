#pragma once

#include <QString>
#include <string>

#include "execution/PointBalance.h"

namespace qv::ui {

// What went wrong with the balance file, for a message box.
QString BalanceProblemText(PointBalance::Status status, const std::string& path);

// A file path as the user knows it.
QString PathText(const std::string& path);

}  // namespace qv::ui
