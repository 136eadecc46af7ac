#pragma once

#include <QString>
#include <string_view>

namespace qv::ui {

// How the windows name the things they share, so that each is called one way everywhere.

// An article: 「12条 遅刻」 (name as stored, CP932).
QString ArticleText(long long number, std::string_view name);
// The unit a count of an implement is in: 「分」 for one measured in minutes (its name ends
// in "(分)" or "（分）"), else 「回」.
QString UnitOf(const QString& implementName);
// A count of an implement with its unit: 「12回」, 「10分」.
QString CountText(long long count, const QString& implementName);

}  // namespace qv::ui
