#pragma once

#include <QString>
#include <string_view>

namespace qv::ui {

// How the windows name the things they share, so that each is called one way everywhere.

// An article: 「12条 遅刻」 (name as stored, CP932).
QString ArticleText(long long number, std::string_view name);
// The same from a record's number field as stored (shown as it is, damaged or not).
QString ArticleText(std::string_view number, std::string_view name);

}  // namespace qv::ui
