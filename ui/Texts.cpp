#include "ui/Texts.h"

#include <QFont>
#include <QAbstractSpinBox>
#include <QCoreApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QStringList>
#include <QTableWidget>
#include <QTextDocument>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <utility>

#include "text/Cp932.h"
#include "ui/MessageBox.h"

namespace qv::ui {

QString FromCp932(std::string_view bytes) { return QString::fromStdString(qv::Cp932ToUtf8(bytes)); }

QString ShownText(std::string_view bytes) {
    // A CP932 character takes at most two bytes: the first 2 * kShownChars + 2 bytes give
    // more characters than are shown, so a huge text is never converted whole.
    const size_t enough = static_cast<size_t>(kShownChars) * 2 + 2;
    QString text = FromCp932(bytes.substr(0, std::min(bytes.size(), enough)));
    if (text.size() <= kShownChars && bytes.size() <= enough) return text;
    return text.left(kShownChars) + QStringLiteral("…");  // CP932 has no surrogate pairs
}

QString PlainTip(const QString& text) {
    return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

std::optional<std::string> ToCp932(const QString& text) {
    return qv::Utf8ToCp932(text.toStdString());
}

namespace {
// The first character of text that CP932 cannot hold.
QString FirstUnencodable(const QString& text) {
    for (qsizetype i = 0; i < text.size();) {
        qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QString ch = text.mid(i, len);
        if (!ToCp932(ch)) return ch;
        i += len;
    }
    return {};
}
}  // namespace

std::optional<std::string> FieldToCp932(const QString& text, const QString& fieldName,
                                        QWidget* parent) {
    if (text.contains(QLatin1Char('\t')) || text.contains(QLatin1Char('\r')) ||
        text.contains(QLatin1Char('\n'))) {
        MessageBox::Show(QStringLiteral("「%1」にタブや改行は使えません。").arg(fieldName), parent);
        return std::nullopt;
    }
    auto bytes = ToCp932(text);
    if (!bytes) {
        MessageBox::Show(QStringLiteral("「%1」の「%2」はShift-JISで表せない文字のため使えません。")
                             .arg(fieldName, FirstUnencodable(text)),
                         parent);
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::int64_t> TypedInteger(const QString& text) {
    const auto blank = [](QChar c) { return c.isSpace() || c == u'\u3000'; };
    qsizetype i = 0, end = text.size();
    while (i < end && blank(text.at(i))) ++i;
    while (end > i && blank(text.at(end - 1))) --end;
    bool negative = false;
    if (i < end && (text.at(i) == u'-' || text.at(i) == u'－' || text.at(i) == u'−' ||
                    text.at(i) == u'+' || text.at(i) == u'＋')) {
        negative = text.at(i) != u'+' && text.at(i) != u'＋';
        ++i;
    }
    if (i == end) return std::nullopt;
    // Gathered as a negative number, which reaches one further than a positive one.
    std::int64_t value = 0;
    for (; i < end; ++i) {
        const char16_t c = text.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        if (c >= u'０' && c <= u'９') digit = c - u'０';
        if (digit < 0) return std::nullopt;
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    return -value;
}

std::optional<int> ToInt(const QString& text, QWidget* parent) {
    const std::optional<std::int64_t> value = TypedInteger(text);
    if (!value || *value < std::numeric_limits<int>::min() ||
        *value > std::numeric_limits<int>::max()) {
        MessageBox::Show(QStringLiteral("'%1' は整数ではありません").arg(text), parent);
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::int64_t> FieldToInteger(const QString& text, const QString& fieldName,
                                           QWidget* parent) {
    const std::optional<std::int64_t> value = TypedInteger(text);
    if (!value)
        MessageBox::Show(QStringLiteral("「%1」の「%2」は数として読めません。"
                                        "数字だけで入力してください（全角の数字も使えます）。")
                             .arg(fieldName, text),
                         parent);
    return value;
}

namespace {

// Full-width digits and signs as their ASCII selves; other characters as they are.
QString Narrowed(QString text) {
    for (QChar& c : text) {
        if (c >= u'０' && c <= u'９') c = QChar(u'0' + (c.unicode() - u'０'));
        else if (c == u'－' || c == u'−') c = u'-';
        else if (c == u'＋') c = u'+';
        else if (c == u'／') c = u'/';
        else if (c == u'：') c = u':';
    }
    return text;
}

// Rewrites what is typed into a field before the field sees it: keys and the input
// method's committed text.
class NarrowDigits : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QString narrow = Narrowed(key->text());
            if (narrow == key->text() || narrow.size() != 1) return false;
            QKeyEvent ascii(key->type(), narrow.at(0).unicode(), key->modifiers(), narrow,
                            key->isAutoRepeat(), static_cast<ushort>(key->count()));
            QCoreApplication::sendEvent(watched, &ascii);
            return true;
        }
        if (event->type() == QEvent::InputMethod) {
            auto* input = static_cast<QInputMethodEvent*>(event);
            const QString narrow = Narrowed(input->commitString());
            if (narrow != input->commitString())
                input->setCommitString(narrow, input->replacementStart(),
                                       input->replacementLength());
        }
        return false;
    }
};

}  // namespace

void AcceptFullWidthDigits(QAbstractSpinBox* box) {
    auto* filter = new NarrowDigits(box);
    box->installEventFilter(filter);
    if (QLineEdit* edit = box->findChild<QLineEdit*>()) edit->installEventFilter(filter);
}

QString TenthsText(int tenths) { return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10); }

void SetFormFont(QWidget* widget, int pixelSize) {
    QFont font = widget->font();
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixelSize);
    widget->setFont(font);
}

QString LocalTimeText(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return QString::number(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text);
}

QString UnitOf(const QString& implementName) {
    for (const auto& [open, close] : {std::pair{u'(', u')'}, std::pair{u'（', u'）'}}) {
        if (!implementName.endsWith(QChar(close))) continue;
        const qsizetype start = implementName.lastIndexOf(QChar(open));
        if (start < 0) continue;
        const QString unit = implementName.mid(start + 1, implementName.size() - start - 2).trimmed();
        if (!unit.isEmpty()) return unit;
    }
    return QStringLiteral("回");
}

QString CountText(const QString& implementName, std::int64_t count) {
    return implementName + QLatin1Char(':') + QString::number(count) + UnitOf(implementName);
}

namespace {

const char* const kPieces = "qvPieces";

QString LeftTrimmed(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && (text.at(i).isSpace() || text.at(i) == u'\u3000')) ++i;
    return text.mid(i);
}

// Breaks the label's pieces into lines that fit its width.
void LayOutPieces(QLabel* label) {
    const QStringList pieces = label->property(kPieces).toStringList();
    const int width = label->contentsRect().width() - 2 * label->margin() -
                      std::max(0, label->indent()) - 2;
    const QFontMetrics metrics(label->font());
    QStringList lines;
    QString line;
    for (const QString& piece : pieces) {
        if (line.isEmpty() || metrics.horizontalAdvance(line + piece) <= width) {
            line += piece;
            continue;
        }
        lines << line;
        line = LeftTrimmed(piece);
    }
    lines << line;
    const QString text = width > 0 ? lines.join(QLatin1Char('\n')) : pieces.join(QString());
    if (label->text() != text) label->setText(text);
}

// Lays a label's pieces out again when its width or font changes.
class PiecesLayout : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange)
            LayOutPieces(static_cast<QLabel*>(watched));
        return false;
    }
};

}  // namespace

void ShowPieces(QLabel* label, const QStringList& pieces) {
    label->setProperty(kPieces, pieces);
    label->setAccessibleName(pieces.join(QString()));
    if (label->findChild<PiecesLayout*>(QString(), Qt::FindDirectChildrenOnly) == nullptr)
        label->installEventFilter(new PiecesLayout(label));
    LayOutPieces(label);
}

void SetUpRecordTable(QTableWidget* table, const QString& accessibleName) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAccessibleName(accessibleName);
}

QTableWidgetItem* ReadOnlyCell(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

}  // namespace qv::ui
