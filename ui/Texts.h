#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class QAbstractSpinBox;
class QLabel;
class QWidget;
class QTableWidget;
class QTableWidgetItem;

namespace qv::ui {

inline const QString kAppTitle = QStringLiteral("Quorvel裁判所 Ver.0.91");

// CP932 bytes from the core, ready to show (bytes that are not CP932 show as U+FFFD).
QString FromCp932(std::string_view bytes);

// CP932 bytes to show in a cell, label or box: a text longer than any window could show
// is cut after kShownChars characters and ends in "…", so laying it out stays quick (a
// 10 MB article text would otherwise freeze every repaint). The stored bytes are untouched.
inline constexpr int kShownChars = 1000;
QString ShownText(std::string_view bytes);

// A tooltip that shows text exactly: Qt would read a tip that looks like markup as rich
// text ("<b>重要</b>" in bold).
QString PlainTip(const QString& text);

// CP932 bytes of a text; nothing when CP932 cannot hold one of its characters.
std::optional<std::string> ToCp932(const QString& text);

// A text the user typed, as CP932 bytes fit for the files: refuses (with a message
// naming the field) a TAB, CR or LF, or a character CP932 cannot hold.
std::optional<std::string> FieldToCp932(const QString& text, const QString& fieldName,
                                        QWidget* parent = nullptr);

// A whole number as the user types it: ASCII or full-width digits (the Japanese input
// method gives 「１２」), an optional sign (also full-width), blanks around it (also the
// ideographic space). Nothing for anything else ("12a", "") or a number past 64 bits.
// Every field that takes a number reads it through this.
std::optional<std::int64_t> TypedInteger(const QString& text);

// The toolkit's integer conversion over TypedInteger: shows "'%s' は整数ではありません" on
// failure (also for a number beyond int).
std::optional<int> ToInt(const QString& text, QWidget* parent = nullptr);

// Lets a spin box or date field take the full-width digits the Japanese input method
// types (「１２」) as the digits they are; its own validation refuses them otherwise.
void AcceptFullWidthDigits(QAbstractSpinBox* box);

// A number typed into the field fieldName; on failure a message naming the field.
std::optional<std::int64_t> FieldToInteger(const QString& text, const QString& fieldName,
                                           QWidget* parent = nullptr);

// A tenths setting as shown to the user: 15 -> "1.5".
QString TenthsText(int tenths);

// The forms' face: "ＭＳ Ｐゴシック" where installed, else Noto Sans CJK JP.
void SetFormFont(QWidget* widget, int pixelSize);

// A time in seconds since 1970 as local "YYYY/MM/DD HH:MM:SS" (the number itself when the
// calendar cannot hold it).
QString LocalTimeText(std::int64_t seconds);

// The unit an implement is counted in: the one its name ends with in brackets
// ("正座(分)" or "正座（分）" -> "分"), else "回".
QString UnitOf(const QString& implementName);
// "腕立て伏せ:17回", "正座(分):10分": an implement and its count, with the unit.
QString CountText(const QString& implementName, std::int64_t count);

// Shows pieces of a text on a word-wrapping label, each piece kept whole: its lines break
// only between pieces (a piece wider than the label wraps inside itself), and a piece
// that begins a line drops its leading blanks. So a name stays with its value without
// invisible characters in the text. Laid out again when the label's width or font
// changes; read out as the pieces joined.
void ShowPieces(QLabel* label, const QStringList& pieces);

// The read-only lists of records (ledger, trash, backups): whole rows selected one at a
// time, never edited, Tab leaving the list; cells made by ReadOnlyCell.
void SetUpRecordTable(QTableWidget* table, const QString& accessibleName);
QTableWidgetItem* ReadOnlyCell(const QString& text, bool number = false);

}  // namespace qv::ui
